// One transfer driven directly on its record, for orderings the running service cannot be
// made to produce on demand.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/netns.h"
#include "common/temp_dir.h"
#include "tftp/tftp_fixture.h"
#include "tftp/tftp_test_client.h"
#include "tftp/tftpd_proc.h"

namespace orvane::test {
namespace {

// A record readied as the main thread readies it, with a connected transfer socket whose peer
// is `client`.
std::unique_ptr<TftpTransfer> ConnectedRecord(const std::string& root,
                                              const std::vector<uint8_t>& request,
                                              const platform::UdpSocket& client) {
    auto t = std::make_unique<TftpTransfer>();
    t->Reset(root, 1, 1, 0);  // time-out 1 s: a transfer left running ends within 6 s
    std::memcpy(t->request.data(), request.data(), request.size());
    t->requestLength = request.size();
    platform::Endpoint local;
    client.LocalEndpoint(&local);
    t->peer = platform::SocketAddress::FromEndpoint(local);
    return t;
}

bool Connect(TftpTransfer& t) {
    return t.socket.OpenLike(t.peer) && t.socket.BindAnyPort() && t.socket.Connect(t.peer);
}

// Catches a Stop that reaches a record before its worker has connected the transfer socket
// being lost: the transfer then runs on (holding Stop up) and the client never hears of it.
TEST(TftpTransferTest, CancelBeforeTheSocketIsConnectedStillCancels) {
    ORVANE_REQUIRE_PRIVATE_NETWORK();
    TempDir root;
    root.Write("c.bin", Pattern(5000));
    platform::UdpSocket client;
    ASSERT_TRUE(client.Open());
    ASSERT_TRUE(client.Bind(platform::Endpoint{0x7F000001u, 0}));
    auto t = ConnectedRecord(root.Path(), TftpRequest(1, "c.bin"), client);

    CancelTftpTransfer(*t);  // the Stop comes first
    ASSERT_TRUE(Connect(*t));
    RunTftpTransfer(*t);
    EXPECT_EQ(t->result, kTftpResultFailure);

    std::vector<uint8_t> packet(kTftpDataBuffer);
    ASSERT_EQ(client.WaitReadable(1000), 1);
    long n = client.ReceiveFrom(packet.data(), packet.size(), nullptr);
    ASSERT_GE(n, 4);
    EXPECT_EQ(packet[1], kTftpError);
    EXPECT_EQ((packet[2] << 8) | packet[3], kTftpErrCancelled);
    EXPECT_EQ(client.WaitReadable(0), 0);  // nothing else
}

// Catches an upload that grows to 2 GiB or more (a transfer's sizes and offsets are 32-bit)
// instead of being stopped with ERROR 3, leaving nothing behind.
TEST(TftpTransferTest, UploadStopsAtTwoGibibytes) {
    ORVANE_REQUIRE_PRIVATE_NETWORK();
    TempDir root;
    platform::UdpSocket client;
    ASSERT_TRUE(client.Open());
    ASSERT_TRUE(client.Bind(platform::Endpoint{0x7F000001u, 0}));
    auto t = ConnectedRecord(root.Path(), TftpRequest(2, "big.bin"), client);
    ASSERT_TRUE(Connect(*t));
    t->bytes = (int64_t{1} << 31) - 512;  // as if 4 Mi blocks had been taken already
    std::thread worker([&t] { RunTftpTransfer(*t); });

    std::vector<uint8_t> packet(kTftpDataBuffer);
    platform::Endpoint server;
    ASSERT_EQ(client.WaitReadable(5000), 1);
    ASSERT_EQ(client.ReceiveFrom(packet.data(), packet.size(), &server), 4);  // ACK 0
    std::vector<uint8_t> data = {0, kTftpData, 0, 1};
    data.resize(4 + 512, 0x5A);
    client.SendTo(data.data(), data.size(), server);
    ASSERT_EQ(client.WaitReadable(5000), 1);
    long n = client.ReceiveFrom(packet.data(), packet.size(), nullptr);
    worker.join();
    ASSERT_GE(n, 4);
    EXPECT_EQ(packet[1], kTftpError);
    EXPECT_EQ((packet[2] << 8) | packet[3], kTftpErrDiskFull);
    EXPECT_EQ(t->result, kTftpResultFailure);
    EXPECT_TRUE(std::filesystem::is_empty(root.Path()));
}

}  // namespace
}  // namespace orvane::test
