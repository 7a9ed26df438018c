#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "common/log_wait.h"
#include "common/netns.h"
#include "common/temp_dir.h"
#include "platform/udp_socket.h"
#include "support/log.h"
#include "tftp/tftp_service.h"

namespace orvane::test {

// Datagram bytes written as text, "|" standing for a NUL.
inline std::vector<uint8_t> Wire(std::string text) {
    std::replace(text.begin(), text.end(), '|', '\0');
    return std::vector<uint8_t>(text.begin(), text.end());
}

// A hand-driven client; the first reply's source is the transfer port its Sends go to.
class TftpTestClient {
  public:
    explicit TftpTestClient(platform::Endpoint server = platform::Endpoint{0x7F000001u, 69},
                            uint32_t source = 0);  // source: host order, 0 any

    bool SendRequest(const std::string& wire);
    bool SendAck(uint16_t block) { return Send(4, block, ""); }
    bool SendData(uint16_t block, const std::string& data) { return Send(3, block, data); }
    bool SendError(int code, const std::string& text) {
        return Send(5, static_cast<uint16_t>(code), text + '\0');
    }
    // One packet within timeoutMs: "DATA n", "ACK n", "ERROR n", "OACK name=value,..."; ""
    // on silence. Payload() is what follows its opcode and number, From() its source.
    std::string Next(int timeoutMs = 5000);
    const std::string& Payload() const { return m_szPayload; }
    const platform::Endpoint& From() const { return m_from; }
    uint16_t Port() const;
    // A whole read after the request: acknowledges every block (an OACK, whose text goes to
    // `oack`, with ACK 0) until a short one. False on ERROR or silence.
    bool Download(std::string* content, uint32_t blockSize, std::string* oack = nullptr);

  private:
    bool Send(uint16_t opcode, uint16_t number, const std::string& payload);

    platform::UdpSocket m_socket;
    platform::Endpoint m_server;
    platform::Endpoint m_transfer;
    platform::Endpoint m_from;
    std::string m_szPayload;
};

// A content of `size` bytes that differs at every offset a block boundary could hide.
inline std::string Pattern(size_t size, unsigned seed = 1) {
    std::mt19937 random(seed);
    std::string s(size, '\0');
    std::generate(s.begin(), s.end(), [&random] { return static_cast<char>(random()); });
    return s;
}

// The TFTP service on 127.0.0.1:69 of a private namespace, serving a fresh folder.
class TftpServiceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ORVANE_REQUIRE_PRIVATE_NETWORK();
        InitLog(kLogAllLog, m_log.File("Upgrade.log").c_str());
        m_settings.root = m_root.Path();
        m_settings.bindAddress = "127.0.0.1";
        m_settings.writeAllowed = true;  // uploads are under test too
        m_service.Start(m_settings);
    }
    void TearDown() override {
        m_service.Stop();
        InitLog(kLogMajor, "");
    }

    // A second of the transfers' time-outs lasts 200 ms from here on: the same waits, faster.
    void ShortSeconds() {
        m_settings.secondMs = 200;
        m_service.Start(m_settings);
    }
    size_t LogCount(const std::string& what) const {
        return CountOf(ReadWholeFile(m_log.File("Upgrade.log")), what);
    }
    bool WaitLog(const std::string& what, size_t count = 1) const {
        return WaitLogCount(m_log.File("Upgrade.log"), what, count);
    }

    TempDir m_root;
    TempDir m_log;
    TftpSettings m_settings;
    TftpService m_service;
};

}  // namespace orvane::test
