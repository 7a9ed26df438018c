#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "common/wait_until.h"
#include "platform/clock.h"
#include "tftp/tftp_counters.h"
#include "tftp/tftp_fixture.h"
#include "tftp/tftp_request.h"

namespace orvane::test {
namespace {

// The packets that come until `most` came or one was awaited waitMs in vain.
std::vector<std::string> Replies(TftpTestClient& client, size_t most, int waitMs) {
    std::vector<std::string> out;
    for (std::string r; out.size() < most && !(r = client.Next(waitMs)).empty();) {
        out.push_back(r);
    }
    return out;
}

// The next packet but for copies of `skip` (four at most) sent before the client's answer came.
std::string NextOtherThan(TftpTestClient& client, const std::string& skip) {
    std::string reply = client.Next();
    for (int i = 0; i < 4 && reply == skip; ++i) {
        reply = client.Next();
    }
    return reply;
}

// Catches escapes from the root through links, own files served or replaced, a refusal of the
// request's decoding not sent, unused options, wraps.
TEST_F(TftpServiceTest, RequestsAreAnsweredOnTheWire) {
    const std::string file = Pattern(3000);
    const std::string long_ = Pattern(65536 * 8 + 20, 65);
    m_root.Write("f.bin", file);
    m_root.Write("long.bin", long_);
    ASSERT_EQ(mkdir(m_root.File("sub").c_str(), 0755), 0);
    m_root.Write("sub/x.bin", "sub inside");
    m_root.Write("huge.bin", "");
    ASSERT_EQ(truncate(m_root.File("huge.bin").c_str(), int64_t{1} << 31), 0);  // sparse
    m_root.Write("Config.ini", "[CNFINFO]\n");
    m_root.Write("orvane", "program");
    ASSERT_TRUE(std::filesystem::create_directories(m_root.File("CrashDir/2026-12-07")));
    m_root.Write("CrashDir/2026-12-07/20261207_101010.dmp", "crash");
    TempDir outside;
    outside.Write("secret.bin", "outside");
    ASSERT_EQ(symlink(outside.File("secret.bin").c_str(), m_root.File("link.bin").c_str()), 0);
    ASSERT_EQ(symlink(outside.Path().c_str(), m_root.File("out").c_str()), 0);
    ASSERT_EQ(symlink(m_root.File("sub/x.bin").c_str(), m_root.File("alias.bin").c_str()), 0);
    ASSERT_EQ(symlink(m_root.File("Config.ini").c_str(), m_root.File("cfg.bin").c_str()), 0);
    ASSERT_EQ(link(m_root.File("orvane").c_str(), m_root.File("hard.bin").c_str()), 0);
    m_settings.protectedPaths = {m_root.File("Config.ini"), m_root.File("Upgrade.log"),
                                 m_root.File("Upgrade.log.1"), m_root.File("CrashDir"),
                                 m_root.File("orvane")};
    m_service.Start(m_settings);
    // The request ("|" for a NUL), the content, its block size, the OACK; then the first reply.
    const std::tuple<std::string, std::string, uint32_t, const char*> served[] = {
        {"|\1sub\\x.bin|octet|", "sub inside", 512, ""},
        {"|\1alias.bin|octet|", "sub inside", 512, ""},  // a link that stays inside
        {"|\1f.bin|octet|blksize|1432|tsize|0|", file, 1432, "blksize=1432,tsize=3000,"},
        {"|\1long.bin|octet|blksize|8|", long_, 8, "blksize=8,"},
    };
    for (const auto& [request, wanted, blockSize, wantedOack] : served) {
        SCOPED_TRACE(request);
        TftpTestClient client;
        ASSERT_TRUE(client.SendRequest(request));
        std::string content;
        std::string oack;
        EXPECT_TRUE(client.Download(&content, blockSize, &oack));
        EXPECT_TRUE(content == wanted);
        EXPECT_EQ(oack, wantedOack);
    }
    const std::pair<std::string, const char*> answered[] = {
        {"|\1a%b.bin|octet|", "ERROR 2"},
        {"|\1link.bin|octet|", "ERROR 2"},
        {"|\1out/secret.bin|octet|", "ERROR 2"},
        {"|\2out/new.bin|octet|", "ERROR 2"},
        {"|\1" + outside.File("secret.bin") + "|octet|", "ERROR 1"},  // under the root
        {"|\1missing.bin|octet|", "ERROR 1"},
        {"|\1sub|octet|", "ERROR 1"},
        {"|\1huge.bin|octet|", "ERROR 0"},
        {"|\1Config.ini|octet|", "ERROR 2"},
        {"|\1./Config.ini|octet|", "ERROR 2"},
        {"|\1cfg.bin|octet|", "ERROR 2"},
        {"|\1CrashDir/2026-12-07/20261207_101010.dmp|octet|", "ERROR 2"},
        {"|\1hard.bin|octet|", "ERROR 2"},
        {"|\2new.bin|octet|", "ACK 0"},
        {"|\2CONFIG.INI|octet|", "ERROR 2"},  // the same file on a case-folding disk
        {"|\2Upgrade.log.1|octet|", "ERROR 2"},
        {"|\2CrashDir/new.dmp|octet|", "ERROR 2"},
        {"|\2hard.bin|octet|", "ERROR 2"},
    };
    for (const auto& [request, reply] : answered) {
        SCOPED_TRACE(request);
        TftpTestClient client;
        ASSERT_TRUE(client.SendRequest(request));
        EXPECT_EQ(client.Next(), reply);
        client.SendError(0, "done");
    }
    EXPECT_FALSE(std::filesystem::exists(outside.File("new.bin")));
    EXPECT_EQ(ReadWholeFile(m_root.File("Config.ini")), "[CNFINFO]\n");
    EXPECT_EQ(ReadWholeFile(m_root.File("orvane")), "program");
    EXPECT_TRUE(
        WaitLog("Error EACCESS on file Config.ini: the program's own file is never served"));
}

// Catches a lost OACK answered with DATA 0 or ACK 0, or a repeated request given a new transfer.
TEST_F(TftpServiceTest, LostOackIsSentAgain) {
    ShortSeconds();
    const std::string content = Pattern(1500);
    m_root.Write("f.bin", content);
    for (uint16_t opcode : {kTftpRrq, kTftpWrq}) {
        SCOPED_TRACE(opcode);
        TftpTestClient client;
        const std::string request = std::string(opcode == kTftpRrq ? "|\1f.bin" : "|\2up.bin") +
                                    "|octet|blksize|1024|timeout|1|";
        ASSERT_TRUE(client.SendRequest(request));
        const std::string oack = "OACK blksize=1024,timeout=1,";
        ASSERT_EQ(client.Next(), oack);
        const platform::Endpoint transfer = client.From();
        ASSERT_TRUE(client.SendRequest(request));
        ASSERT_EQ(client.Next(), oack);  // the first was not acknowledged: taken as lost
        EXPECT_TRUE(client.From() == transfer);
        if (opcode == kTftpRrq) {
            client.SendAck(0);  // late: both OACKs now acknowledged
            client.SendAck(0);
            std::string received;
            EXPECT_TRUE(client.Download(&received, 1024));
            EXPECT_TRUE(received == content);
            continue;
        }
        ASSERT_TRUE(client.SendData(1, content.substr(0, 1024)));
        EXPECT_EQ(NextOtherThan(client, oack), "ACK 1");
        ASSERT_TRUE(client.SendData(2, content.substr(1024)));
        ASSERT_TRUE(WaitLog("<up.bin>: rcvd 2 blks, 1500 bytes"));
        EXPECT_TRUE(ReadWholeFile(m_root.File("up.bin")) == content);
    }
    EXPECT_EQ(LogCount("Ack of block #0"), 0u);
    EXPECT_GE(LogCount("answers it already, request dropped"), 1u);  // one a second at most
}

// Catches a lost DATA resent only after the default wait, or never while the client repeats ACKs.
TEST_F(TftpServiceTest, LostDataIsResentAfterTheMeasuredWaitDespiteRepeatedAcks) {
    const std::string content = Pattern(512 * 12 + 100, 9);
    m_root.Write("d.bin", content);
    TftpTestClient client;
    ASSERT_TRUE(client.SendRequest("|\1d.bin|octet|"));
    // Blocks 1 to 9 answered at once teach the server a round trip of well under 1 ms.
    for (uint16_t block = 1; block < 10; ++block) {
        ASSERT_EQ(client.Next(), "DATA " + std::to_string(block));
        client.SendAck(block);
    }
    ASSERT_EQ(client.Next(), "DATA 10");  // taken as lost
    bool resent = false;
    // Well within the 1 s wait of a transfer that measured nothing.
    for (int i = 0; i < 30 && !resent; ++i) {
        client.SendAck(9);
        resent = client.Next(20) == "DATA 10";
    }
    ASSERT_TRUE(resent);
    std::string rest = client.Payload();
    for (uint16_t block = 10; block < 13; ++block) {
        client.SendAck(block);
        ASSERT_EQ(NextOtherThan(client, "DATA " + std::to_string(block)),
                  "DATA " + std::to_string(block + 1));
        rest += client.Payload();
    }
    client.SendAck(13);
    EXPECT_TRUE(rest == content.substr(512 * 9));
    EXPECT_TRUE(WaitLog("<d.bin>: sent 13 blks, 6244 bytes"));
    EXPECT_GE(LogCount("Ack block 9 ignored (received twice)"), 1u);
}

// Catches the acknowledgement of an OACK taken as a round trip: a device answers it at once
// but may spend a flash write on each block, and a wait learnt from it would resend block 1.
TEST_F(TftpServiceTest, OackAnswerTeachesNoRoundTrip) {
    m_root.Write("s.bin", Pattern(1000, 3));
    TftpTestClient client;
    ASSERT_TRUE(client.SendRequest("|\1s.bin|octet|tsize|0|"));
    ASSERT_EQ(client.Next(), "OACK tsize=1000,");
    client.SendAck(0);
    ASSERT_EQ(client.Next(), "DATA 1");
    EXPECT_EQ(client.Next(300), "");  // within the first wait, nothing measured yet
    client.SendAck(1);
    EXPECT_EQ(NextOtherThan(client, "DATA 1"), "DATA 2");
    client.SendAck(2);
}

// Catches an upload written in place over a file being served instead of replacing it at its
// end, a finished transfer counted as failed, or its file kept open.
TEST_F(TftpServiceTest, UploadReplacesTheFileOnlyWhenComplete) {
    const std::string before = Pattern(5000, 1);
    const std::string after = Pattern(700, 2);
    m_root.Write("fw.bin", before);
    const uint64_t okBefore = GetTftpCounters().transfersOk.load();
    const uint64_t failedBefore = GetTftpCounters().transfersFailed.load();
    TftpTestClient reader;
    ASSERT_TRUE(reader.SendRequest("|\1fw.bin|octet|tsize|0|"));
    ASSERT_EQ(reader.Next(), "OACK tsize=5000,");  // the old file is open

    TftpTestClient writer;
    ASSERT_TRUE(writer.SendRequest("|\2fw.bin|octet|"));
    ASSERT_EQ(writer.Next(), "ACK 0");
    ASSERT_TRUE(writer.SendData(1, after.substr(0, 512)));
    ASSERT_EQ(writer.Next(), "ACK 1");
    EXPECT_TRUE(ReadWholeFile(m_root.File("fw.bin")) == before);  // half an upload: not served
    ASSERT_TRUE(writer.SendData(2, after.substr(512)));
    ASSERT_EQ(writer.Next(), "ACK 2");
    EXPECT_TRUE(ReadWholeFile(m_root.File("fw.bin")) == after);  // in place once acknowledged

    reader.SendAck(0);  // the download begun before goes on with the old file
    std::string downloaded;
    ASSERT_TRUE(reader.Download(&downloaded, 512));
    EXPECT_TRUE(downloaded == before);
    // Both counted as served, and neither file left open (Windows could then replace neither).
    EXPECT_TRUE(
        WaitUntil([&] { return GetTftpCounters().transfersOk.load() == okBefore + 2; }, 5000))
        << GetTftpCounters().transfersOk.load() - okBefore;
    EXPECT_EQ(GetTftpCounters().transfersFailed.load(), failedBefore);
    std::error_code ec;
    for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd", ec)) {
        const std::string target = std::filesystem::read_symlink(fd.path(), ec).string();
        EXPECT_EQ(target.rfind(m_root.Path(), 0), std::string::npos) << target;
    }
}

// Catches a silent client given up at the wrong time, or an upload given up leaving files behind.
TEST_F(TftpServiceTest, SilentClientIsGivenUpAfterSixTimeouts) {
    m_root.Write("one.bin", "single block");
    ShortSeconds();
    TftpTestClient reader;
    ASSERT_TRUE(reader.SendRequest("|\1one.bin|octet|timeout|1|"));
    ASSERT_EQ(reader.Next(), "OACK timeout=1,");
    reader.SendAck(0);  // then silence while DATA 1 comes again and again
    TftpTestClient writer;
    ASSERT_TRUE(writer.SendRequest("|\2up.bin|octet|timeout|1|"));
    ASSERT_EQ(writer.Next(), "OACK timeout=1,");
    ASSERT_TRUE(writer.SendData(1, Pattern(512)));  // then silence while ACK 1 comes again
    EXPECT_EQ(Replies(reader, 8, 1000), std::vector<std::string>(6, "DATA 1"));  // no ERROR: sent
    std::vector<std::string> givenUp(7, "ACK 1");  // the answer to DATA 1, then 6 copies
    givenUp.push_back("ERROR 0");
    EXPECT_EQ(Replies(writer, 8, 1000), givenUp);
    EXPECT_TRUE(WaitLog("WARNING : Last block #1 not acked for file <one.bin>"));
    ASSERT_TRUE(WaitLog("return from thread", 2));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(m_root.Path()), {}), 1);
}

// Catches record limits missed, an asked 255 s time-out honoured, finished records unreaped.
TEST_F(TftpServiceTest, RecordLimitsHoldAndFinishedRecordsAreReapedUnderAFlood) {
    m_root.Write("h.bin", Pattern(3000));
    m_settings.maxTransfers = 40;  // ten more than the idle permanent workers
    ShortSeconds();
    const platform::Endpoint server{0x7F000001u, 69};
    std::vector<std::unique_ptr<TftpTestClient>> clients;
    for (int i = 0; i < 40; ++i) {
        // Eight from each address, the most one address may hold; the first eight ask 255 s.
        clients.push_back(std::make_unique<TftpTestClient>(server, 0x7F000001u + i / 8));
        ASSERT_TRUE(
            clients.back()->SendRequest(i < 8 ? "|\1h.bin|octet|timeout|255|" : "|\1h.bin|octet|"));
        ASSERT_EQ(clients.back()->Next(), i < 8 ? "OACK timeout=255," : "DATA 1") << i;
        if (i == 7) {
            TftpTestClient ninth(server, 0x7F000001u);
            ASSERT_TRUE(ninth.SendRequest("|\1h.bin|octet|"));
            EXPECT_EQ(ninth.Next(), "ERROR 0");
            EXPECT_EQ(ninth.Payload(), std::string("too many transfers from this address") + '\0');
        }
    }
    TftpTestClient late(server, 0x7F000010u);
    ASSERT_TRUE(late.SendRequest("|\1h.bin|octet|"));
    EXPECT_EQ(late.Next(300), "");
    EXPECT_TRUE(WaitLog("max number of threads reached, connection from 127.0.0.16 dropped"));

    platform::UdpSocket flood;  // from an address of its own, held to no per-address limit
    ASSERT_TRUE(flood.Open() && flood.Bind(platform::Endpoint{0x7F000014u, 0}));
    std::atomic<bool> flooding{true};
    std::thread flooder([&flood, &flooding] {
        const std::vector<uint8_t> request = Wire("|\1a%b.bin|octet|");  // refused at once
        const int64_t end = platform::MonotonicMs() + 30000;
        while (flooding.load() && platform::MonotonicMs() < end) {
            flood.SendTo(request.data(), request.size(), platform::Endpoint{0x7F000001u, 69});
        }
    });
    for (size_t i = 8; i < clients.size(); ++i) {
        clients[i]->SendError(0, "done");
    }
    // Never answered: the OACK again on the service's own 5 s clock (1 s here), then given up.
    std::vector<std::string> expected(5, "OACK timeout=255,");
    expected.push_back("ERROR 0");
    for (size_t i = 0; i < 8; ++i) {
        EXPECT_EQ(Replies(*clients[i], 6, 3000), expected) << i;
    }
    // The ten dynamic records among the 40 were reaped under the flood.
    EXPECT_TRUE(WaitUntil([this] { return m_service.RecordCount() < 35; }, 10000));
    flooding = false;
    flooder.join();
}

// Catches the main thread pausing for each repeat of an answered request (every other
// client's request then waits behind them), and the lines such repeats cause not limited.
TEST_F(TftpServiceTest, RepeatedRequestsCostNoPauseAndFewLines) {
    m_root.Write("real.bin", Pattern(20000));
    platform::UdpSocket repeater;
    ASSERT_TRUE(repeater.Open() && repeater.Bind(platform::Endpoint{0x7F000002u, 0}));
    std::atomic<bool> repeating{true};
    std::thread repeats([&repeater, &repeating] {
        const std::vector<uint8_t> request = Wire("|\1missing.bin|octet|");  // ERROR 1 each time
        const int64_t end = platform::MonotonicMs() + 10000;
        while (repeating.load() && platform::MonotonicMs() < end) {
            for (int i = 0; i < 50; ++i) {  // about 5,000 a second
                repeater.SendTo(request.data(), request.size(), {0x7F000001u, 69});
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    TftpTestClient device(platform::Endpoint{0x7F000001u, 69}, 0x7F000003u);
    std::string content;
    bool done = false;
    for (int attempt = 0; attempt < 3 && !done; ++attempt) {  // a device asks again on silence
        ASSERT_TRUE(device.SendRequest("|\1real.bin|octet|"));
        done = device.Download(&content, 512);
    }
    EXPECT_TRUE(done);
    EXPECT_TRUE(content == Pattern(20000));
    repeating = false;
    repeats.join();
    EXPECT_LE(LogCount("received duplicated request"), 12u);
    EXPECT_LE(LogCount("in system call CreateFile"), 12u);
}

// Catches a bind address ignored, a client left waiting at Stop, port conflicts, a bad root.
TEST_F(TftpServiceTest, BindAddressStopAndPortConflicts) {
    m_root.Write("b.bin", "b");
    m_root.Write("c.bin", Pattern(5000));
    TftpTestClient other(platform::Endpoint{0x7F000002u, 69});
    ASSERT_TRUE(other.SendRequest("|\1b.bin|octet|"));
    EXPECT_EQ(other.Next(500), "");  // 127.0.0.2 is not the bound address
    TftpTestClient client;
    ASSERT_TRUE(client.SendRequest("|\1c.bin|octet|"));
    ASSERT_EQ(client.Next(), "DATA 1");
    m_service.Stop();
    EXPECT_EQ(client.Next(), "ERROR 99");
    EXPECT_EQ(client.Next(300), "");  // nothing after the cancel
    m_settings.bindAddress = "all";   // no digit first: every address
    m_service.Start(m_settings);
    TftpTestClient any(platform::Endpoint{0x7F000002u, 69});
    ASSERT_TRUE(any.SendRequest("|\1b.bin|octet|"));
    std::string content;
    EXPECT_TRUE(any.Download(&content, 512));
    EXPECT_EQ(content, "b");

    m_service.Stop();
    platform::UdpSocket holder;
    ASSERT_TRUE(holder.Open() && holder.Bind(platform::Endpoint{0x7F000001u, 69}));
    const size_t ended = LogCount("main TFTP thread ends here");
    m_settings.bindAddress = "127.0.0.1";
    m_settings.root = "/no/such/folder";
    m_service.Start(m_settings);
    EXPECT_TRUE(WaitLog("can not bind the tftp port\nan application is already listening"));
    // No idle worker may take the empty record for a request and keep the collection waiting.
    EXPECT_TRUE(WaitLog("main TFTP thread ends here", ended + 1));
    EXPECT_EQ(LogCount("Error : socket returns"), 0u);
    m_service.Stop();
    holder.Close();
    m_service.Start(m_settings);  // the missing folder kept the previous root
    TftpTestClient again;
    ASSERT_TRUE(again.SendRequest("|\1b.bin|octet|"));
    EXPECT_TRUE(again.Download(&content, 512));
    EXPECT_EQ(content, "b");
}

}  // namespace
}  // namespace orvane::test

namespace orvane::test {
namespace {

// Catches a file served by its name alone while a signed list is in force: one put in its
// place after the check (or never checked) goes out, or the refusal is not told.
TEST_F(TftpServiceTest, OnlyTheVouchedVersionOfAFileIsServed) {
    m_root.Write("v.bin", "vouched bytes");
    m_root.Write("other.bin", "never checked");
    platform::DataFile checked;
    platform::FileVersion version;
    ASSERT_TRUE(checked.OpenRead(m_root.File("v.bin")) && checked.Version(&version));
    auto vouched = std::make_shared<TftpVouchedFiles>();
    vouched->Set(true, {version});
    std::mutex lock;
    std::vector<std::string> refused;
    m_settings.vouched = vouched;
    m_settings.onRefused = [&](const std::string& peer, const std::string& name) {
        std::lock_guard<std::mutex> guard(lock);
        refused.push_back(peer + " " + name);
    };
    m_service.Start(m_settings);

    TftpTestClient first;
    ASSERT_TRUE(first.SendRequest("|\1v.bin|octet|"));
    std::string content;
    EXPECT_TRUE(first.Download(&content, 512));
    EXPECT_EQ(content, "vouched bytes");
    // Swapped in place the way a copy tool does it: a new file renamed over the name.
    m_root.Write("v.new", "swapped bytes");
    ASSERT_EQ(std::rename(m_root.File("v.new").c_str(), m_root.File("v.bin").c_str()), 0);
    for (const char* name : {"v.bin", "other.bin"}) {
        SCOPED_TRACE(name);
        TftpTestClient client;
        ASSERT_TRUE(client.SendRequest(std::string("|\1") + name + "|octet|"));
        EXPECT_EQ(client.Next(), "ERROR 2");
    }
    std::lock_guard<std::mutex> guard(lock);
    EXPECT_EQ(refused, (std::vector<std::string>{"127.0.0.1 v.bin", "127.0.0.1 other.bin"}));
}

}  // namespace
}  // namespace orvane::test
