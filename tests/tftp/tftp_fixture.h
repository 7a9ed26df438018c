#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "common/netns.h"
#include "common/temp_dir.h"
#include "support/log.h"
#include "tftp/tftp_interface.h"

namespace orvane::test {

// A content of `size` bytes that differs at every offset a block boundary could hide.
inline std::string Pattern(size_t size, unsigned seed = 1) {
    std::string s(size, '\0');
    uint32_t x = 2463534242u ^ seed;
    for (size_t i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        s[i] = static_cast<char>(x & 0xFF);
    }
    return s;
}

// The TFTP service running on 127.0.0.1:69 of the test's private namespace, serving a fresh
// folder, with every log line kept in that folder.
class TftpServiceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ORVANE_REQUIRE_PRIVATE_NETWORK();
        InitLog(kLogAllLog, m_log.File("Upgrade.log").c_str());
        StartTftp("127.0.0.1", m_root.Path().c_str());
    }
    void TearDown() override {
        StopTftp();
        SetTftpWriteAllowed(true);
        if (HasFailure()) {
            std::fprintf(stderr, "%s", Log().c_str());
        }
        InitLog(kLogMajor, "");
    }

    std::string Log() const { return ReadWholeFile(m_log.File("Upgrade.log")); }
    static size_t Count(const std::string& text, const std::string& what) {
        size_t n = 0;
        for (size_t at = 0; (at = text.find(what, at)) != std::string::npos; at += what.size()) {
            ++n;
        }
        return n;
    }
    // Some outcomes show only in the log: poll it, bounded in count and time.
    bool WaitLog(const std::string& what, size_t count = 1, int timeoutMs = 10000) {
        for (int waited = 0; waited <= timeoutMs; waited += 20) {
            if (Count(Log(), what) >= count) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }

    TempDir m_root;
    TempDir m_log;
};

}  // namespace orvane::test
