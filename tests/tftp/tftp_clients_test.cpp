// Debian's TFTP clients against the service, as the devices' own clients would use it.
#include <gtest/gtest.h>

#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "common/child_process.h"
#include "tftp/tftp_fixture.h"

namespace orvane::test {
namespace {

constexpr int kClientTimeoutMs = 60000;

std::vector<std::string> ClientGet(const std::string& client, const std::string& name,
                                   const std::string& out) {
    if (client == "curl") {
        return {"/usr/bin/curl", "-s", "-o", out, "tftp://127.0.0.1/" + name};
    }
    if (client == "curl-1468") {
        return {"/usr/bin/curl",           "-s", "--tftp-blksize", "1468", "-o", out,
                "tftp://127.0.0.1/" + name};
    }
    if (client == "curl-no-options") {
        return {"/usr/bin/curl", "-s", "--tftp-no-options", "-o", out, "tftp://127.0.0.1/" + name};
    }
    if (client == "tftp-hpa") {
        return {"/usr/bin/tftp", "127.0.0.1", "-m", "binary", "-c", "get", name, out};
    }
    if (client == "atftp") {
        return {"/usr/bin/atftp", "-g", "-r", name, "-l", out, "127.0.0.1"};
    }
    // atftp with all three options
    return {"/usr/bin/atftp", "-g",           "-r",       name,      "-l",       out,
            "--option",       "blksize 1024", "--option", "tsize 0", "--option", "timeout 3",
            "127.0.0.1"};
}

// Catches any block-boundary, option or last-block fault that corrupts or cuts a download
// with a real client.
TEST_F(TftpServiceTest, RealClientsDownloadByteIdenticalFiles) {
    const std::vector<std::string> clients = {"curl",     "curl-1468", "curl-no-options",
                                              "tftp-hpa", "atftp",     "atftp-options"};
    const std::vector<size_t> sizes = {0, 511, 512, 1024, 5000000};
    for (size_t size : sizes) {
        m_root.Write("fw" + std::to_string(size) + ".bin", Pattern(size, size));
    }
    TempDir out;
    for (const std::string& client : clients) {
        for (size_t size : sizes) {
            SCOPED_TRACE(client + " " + std::to_string(size));
            const std::string name = "fw" + std::to_string(size) + ".bin";
            const std::string local = out.File(client + name);
            RunCommand(ClientGet(client, name, local), nullptr, kClientTimeoutMs);
            // tftp-hpa exits 0 even after an ERROR: the file is the only witness.
            ASSERT_EQ(ReadWholeFile(local), Pattern(size, size));
        }
    }
    EXPECT_EQ(Count(Log(), "TIMEOUT"), 0u);
}

// Catches an upload that loses, reorders or pads blocks, or keeps the tail of a replaced file.
TEST_F(TftpServiceTest, RealClientsUploadAndReplaceFiles) {
    const std::vector<size_t> sizes = {0, 511, 512, 70000};
    TempDir src;
    for (const char* client : {"tftp-hpa", "atftp"}) {
        for (size_t size : sizes) {
            const std::string name = std::string(client) + std::to_string(size) + ".bin";
            SCOPED_TRACE(name);
            src.Write(name, Pattern(size, 7 + size));
            m_root.Write(name, Pattern(100000, 3));  // an older, longer file to be replaced
            std::vector<std::string> argv =
                std::string(client) == "atftp"
                    ? std::vector<std::string>{"/usr/bin/atftp", "-p", "-l",
                                               src.File(name),   "-r", name,
                                               "127.0.0.1"}
                    : std::vector<std::string>{"/usr/bin/tftp", "127.0.0.1", "-m",
                                               "binary",        "-c",        "put",
                                               src.File(name),  name};
            EXPECT_EQ(RunCommand(argv, nullptr, kClientTimeoutMs), 0);
            ASSERT_TRUE(WaitLog("<" + name + ">: rcvd"));
            EXPECT_EQ(ReadWholeFile(m_root.File(name)), Pattern(size, 7 + size));
        }
    }
}

// Catches workers that share buffers, sockets or file positions between transfers.
TEST_F(TftpServiceTest, TwentyConcurrentDownloadsAreIntact) {
    const std::string content = Pattern(2000000, 20);
    m_root.Write("big.bin", content);
    TempDir out;
    std::vector<std::unique_ptr<ChildProcess>> clients;
    for (int i = 0; i < 20; ++i) {
        clients.push_back(std::make_unique<ChildProcess>());
        ASSERT_TRUE(
            clients.back()->Start({"/usr/bin/busybox", "tftp", "-g", "-b", "1468", "-r", "big.bin",
                                   "-l", out.File(std::to_string(i)), "127.0.0.1"}));
    }
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(clients[i]->Wait(kClientTimeoutMs), 0);
        EXPECT_EQ(ReadWholeFile(out.File(std::to_string(i))), content) << i;
    }
}

// Two namespaces joined by a veth pair whose receiving ends drop every tenth datagram.
class LossyLink {
  public:
    LossyLink() : m_szName("orvtftp" + std::to_string(getpid())) {}
    ~LossyLink() {
        RunCommand({"/usr/sbin/ip", "link", "del", m_szName + "a"});
        RunCommand({"/usr/sbin/ip", "netns", "del", m_szName});
    }
    bool Create() {
        const std::string a = m_szName + "a";
        const std::string b = m_szName + "b";
        const std::vector<std::vector<std::string>> steps = {
            {"/usr/sbin/ip", "netns", "add", m_szName},
            {"/usr/sbin/ip", "link", "add", a, "type", "veth", "peer", "name", b},
            {"/usr/sbin/ip", "link", "set", b, "netns", m_szName},
            {"/usr/sbin/ip", "addr", "add", "10.254.69.1/24", "dev", a},
            {"/usr/sbin/ip", "link", "set", a, "up"},
            {"/usr/sbin/ip", "netns", "exec", m_szName, "ip", "addr", "add", "10.254.69.2/24",
             "dev", b},
            {"/usr/sbin/ip", "netns", "exec", m_szName, "ip", "link", "set", b, "up"},
            {"/usr/sbin/ip", "netns", "exec", m_szName, "ip", "link", "set", "lo", "up"},
            // Drops on input: a drop on output would fail the sender's send instead.
            {"/usr/sbin/iptables", "-A", "INPUT", "-i", a, "-m", "statistic", "--mode", "nth",
             "--every", "10", "--packet", "3", "-j", "DROP"},
            {"/usr/sbin/ip", "netns", "exec", m_szName, "iptables", "-A", "INPUT", "-m",
             "statistic", "--mode", "nth", "--every", "10", "--packet", "5", "-j", "DROP"},
        };
        for (const auto& step : steps) {
            if (RunCommand(step) != 0) {
                return false;
            }
        }
        return true;
    }
    const std::string& Name() const { return m_szName; }

  private:
    std::string m_szName;
};

// Catches a transfer that stalls, duplicates or skips data when datagrams are lost both ways,
// and a lost DATA never resent because the client repeats its last ACK on its own clock
// (busybox from 0.1 s on, atftp every second) and each repeat restarts the server's wait.
TEST_F(TftpServiceTest, DownloadThroughLossyLinkArrivesIntact) {
    LossyLink link;
    ASSERT_TRUE(link.Create());
    StopTftp();
    StartTftp("10.254.69.1", m_root.Path().c_str());
    const std::string content = Pattern(20000, 69);
    m_root.Write("lossy.bin", content);
    TempDir out;
    const std::vector<std::vector<std::string>> clients = {
        {"busybox", "tftp", "-g", "-b", "1468", "-r", "lossy.bin", "-l", out.File("busybox"),
         "10.254.69.1"},
        {"atftp", "-g", "-r", "lossy.bin", "-l", out.File("atftp"), "--option", "blksize 1468",
         "10.254.69.1"},
    };
    for (const auto& client : clients) {
        SCOPED_TRACE(client[0]);
        std::vector<std::string> argv = {"/usr/sbin/ip", "netns", "exec", link.Name()};
        argv.insert(argv.end(), client.begin(), client.end());
        EXPECT_EQ(RunCommand(argv, nullptr, 120000), 0);
        EXPECT_EQ(ReadWholeFile(out.File(client[0])), content);
    }
    EXPECT_GT(Count(Log(), "timeout while waiting for ack"), 0u);  // the loss did happen
}

}  // namespace
}  // namespace orvane::test
