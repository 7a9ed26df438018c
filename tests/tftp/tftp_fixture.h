#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "common/log_wait.h"
#include "common/netns.h"
#include "common/temp_dir.h"
#include "support/log.h"
#include "tftp/tftp_service.h"

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
// folder, with every log line kept in another.
class TftpServiceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ORVANE_REQUIRE_PRIVATE_NETWORK();
        InitLog(kLogAllLog, m_log.File("Upgrade.log").c_str());
        m_settings.root = m_root.Path();
        m_settings.bindAddress = "127.0.0.1";
        m_service.Start(m_settings);
    }
    void TearDown() override {
        m_service.Stop();
        if (HasFailure()) {
            std::fprintf(stderr, "%s", Log().c_str());
        }
        InitLog(kLogMajor, "");
    }

    // A second of the transfers' time-outs lasts 200 ms from here on: the same waits, faster.
    void ShortSeconds() {
        m_settings.secondMs = 200;
        m_service.Start(m_settings);
    }
    std::string Log() const { return ReadWholeFile(m_log.File("Upgrade.log")); }
    size_t LogCount(const std::string& what) const { return CountOf(Log(), what); }
    bool WaitLog(const std::string& what, size_t count = 1) const {
        return WaitLogCount(m_log.File("Upgrade.log"), what, count);
    }

    TempDir m_root;
    TempDir m_log;
    TftpSettings m_settings;
    TftpService m_service;
};

}  // namespace orvane::test
