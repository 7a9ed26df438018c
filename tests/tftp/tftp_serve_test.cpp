#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tftp/tftp_fixture.h"
#include "tftp/tftp_serve.h"

namespace orvane::test {
namespace {

// A record readied as the main thread readies it for a request from m_client (after the Stop's
// cancel when `cancelFirst`): for orderings the running service cannot produce on demand.
class TransferTest : public ::testing::Test {
  protected:
    void SetUp() override { ORVANE_REQUIRE_PRIVATE_NETWORK(); }
    bool Ready(const std::string& text, bool cancelFirst = false) {
        m_request = Wire(text);
        auto settings = std::make_shared<TftpSettings>();
        settings->root = m_root.Path();
        settings->secondMs = 200;  // with a time-out of 1 s, a transfer left running ends in 1.2 s
        settings->writeAllowed = true;
        m_t.Reset(settings, 1, 0);
        m_t.peer = platform::SocketAddress::FromEndpoint({0x7F000001u, m_client.Port()});
        if (cancelFirst) {
            CancelTftpTransfer(m_t);
        }
        return m_t.socket.OpenLike(m_t.peer) && m_t.socket.BindAnyPort() &&
               m_t.socket.Connect(m_t.peer);
    }

    TempDir m_root;
    TftpTestClient m_client;
    TftpTransfer m_t;
    std::vector<uint8_t> m_request;
};

// Catches a Stop that reaches a record before its worker has connected the transfer socket
// being lost: the transfer then runs on (holding Stop up) and the client never hears of it.
TEST_F(TransferTest, CancelBeforeTheSocketIsConnectedStillCancels) {
    m_root.Write("c.bin", Pattern(5000));
    ASSERT_TRUE(Ready("|\1c.bin|octet|", true));
    RunTftpTransfer(m_t, m_request.data(), m_request.size());
    EXPECT_EQ(m_t.result, kTftpResultFailure);
    EXPECT_EQ(m_client.Next(), "ERROR 99");
    EXPECT_EQ(m_client.Next(0), "");  // nothing else
}

// Catches an upload that grows to 2 GiB or more (a transfer's sizes and offsets are 32-bit)
// instead of being stopped with ERROR 3, leaving nothing behind.
TEST_F(TransferTest, UploadStopsAtTwoGibibytes) {
    ASSERT_TRUE(Ready("|\2big.bin|octet|"));
    m_t.bytes = (int64_t{1} << 31) - 512;  // as if 4 Mi blocks had been taken already
    std::thread worker([this] { RunTftpTransfer(m_t, m_request.data(), m_request.size()); });
    EXPECT_EQ(m_client.Next(), "ACK 0");
    m_client.SendData(1, std::string(512, 'Z'));
    EXPECT_EQ(m_client.Next(), "ERROR 3");
    worker.join();
    EXPECT_EQ(m_t.result, kTftpResultFailure);
    EXPECT_TRUE(std::filesystem::is_empty(m_root.Path()));
}

}  // namespace
}  // namespace orvane::test
