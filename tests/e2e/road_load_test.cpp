#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "e2e/road_fixture.h"

namespace orvane {
namespace {

constexpr int kDevices = 100;    // under loss
constexpr int kRoadMs = 600000;  // bound of one simulator run (it bounds itself far below)
// Bound of the wait for the next table line once the devices are through. With the log on,
// every line is flushed to disk, and the dispatcher may still be working through their
// reports for a while on a busy machine.
constexpr int kCatchUpMs = 120000;

// The crowd: cameras and a group of recorders at once, each package 1 MiB.
constexpr int kCrowdKiB = 1024;
#ifdef ORVANE_SANITIZED
// A sanitized build handles every byte several times slower: a smaller crowd and smaller
// packages under loss keep the suite within its time.
constexpr int kCrowdCameras = 80;
constexpr int kCrowdRecorders = 20;
constexpr int kLossKiB = 64;
#else
constexpr int kCrowdCameras = 250;
constexpr int kCrowdRecorders = 50;
constexpr int kLossKiB = 256;
#endif

class RoadLoadTest : public test::RoadTest {
  protected:
    // An M100 package of exactly `kib` KiB for the devices' model.
    void MakePackage(int kib) {
        MakeFirmware({"--version", "X_M100_V2.0.0.0", "--image", std::to_string(kib - 64) + "K",
                      "--pad-to", std::to_string(kib) + "K"},
                     "M100.bin");
    }

    // Runs the hundred devices through the whole road, each download held to the package;
    // the simulator's output.
    std::string RunDevices(const std::vector<std::string>& extra) {
        std::vector<std::string> args = {"--devices", std::to_string(kDevices), "--compare",
                                         m_dir.File("fw/M100.bin")};
        args.insert(args.end(), extra.begin(), extra.end());
        std::string out;
        EXPECT_EQ(Devsim(args, &out, kRoadMs), 0) << out;
        auto sum = test::DevsimFields(out);
        EXPECT_EQ(sum["answered"], std::to_string(kDevices)) << out;
        EXPECT_EQ(sum["downloaded"], std::to_string(kDevices)) << out;
        EXPECT_EQ(sum["failures"], "0") << out;
        return out;
    }

    // Every device's row ends complete and counted once as a success.
    void ExpectEveryRowComplete() {
        test::TableLines table;
        EXPECT_TRUE(table.ReadUntil(m_orvane, kDevices, 0, kCatchUpMs));
        EXPECT_EQ(StopOrvane(&table), 0);
        EXPECT_EQ(table.rows.size(), static_cast<size_t>(kDevices));
        EXPECT_EQ(table.CompleteRows(), kDevices);
        EXPECT_EQ(table.successes, kDevices);
        EXPECT_EQ(table.failures, 0);
    }
};

// Catches what only a crowd shows: a device starved of an answer or a transfer slot, a download
// cut or mixed up with another's, a record dropped while its device is on its way (its next
// report then makes a second row), a report counted on the wrong row, a recorder counted
// before its update stage (its last reports would make a row of their own). Slow boot loaders
// (each DATA acknowledged 2 ms late) keep hundreds of transfers open at once; a group of
// recorders runs among the cameras.
TEST_F(RoadLoadTest, CrowdOfSlowDevicesEndsWithOneCompleteRowEach) {
    MakePackage(kCrowdKiB);
    MakeFirmware({"--kind", "nvr", "--version", "N200_V2.0.0.7", "--pad-to",
                  std::to_string(kCrowdKiB) + "K"},
                 "N200.bin");
    StartOrvane("[CNFINFO]\r\nAppLanguage=2\r\n");
    std::string recorderOut;
    int recorderStatus = -1;
    std::thread recorders([&] {
        recorderStatus =
            Devsim({"--devices", std::to_string(kCrowdRecorders), "--kind", "nvr", "--model",
                    "N200", "--version", "2.0.0.6", "--mac", "02:00:00:00:F0:00", "--ack-delay-ms",
                    "2", "--compare", m_dir.File("fw/N200.bin")},
                   &recorderOut, kRoadMs);
    });
    std::string out;
    EXPECT_EQ(Devsim({"--devices", std::to_string(kCrowdCameras), "--ack-delay-ms", "2",
                      "--compare", m_dir.File("fw/M100.bin")},
                     &out, kRoadMs),
              0)
        << out;
    recorders.join();
    EXPECT_EQ(recorderStatus, 0) << recorderOut;
    EXPECT_EQ(test::DevsimFields(out)["downloaded"], std::to_string(kCrowdCameras)) << out;
    EXPECT_EQ(test::DevsimFields(recorderOut)["downloaded"], std::to_string(kCrowdRecorders))
        << recorderOut;

    const int devices = kCrowdCameras + kCrowdRecorders;
    test::TableLines table;
    EXPECT_TRUE(table.ReadUntil(m_orvane, devices, 0, kCatchUpMs));
    EXPECT_EQ(StopOrvane(&table), 0);
    EXPECT_EQ(table.successes, devices);
    EXPECT_EQ(table.failures, 0);
    EXPECT_EQ(table.rows.size(), static_cast<size_t>(devices));
    int cameras = 0;
    for (const auto& [id, r] : table.rows) {
        const bool camera = r[2] == "M100";
        cameras += camera;
        EXPECT_EQ(r[4], "Upgrade complete") << "row " << id;
        EXPECT_EQ(r[5], "100%") << "row " << id;
        EXPECT_EQ(r[6], camera ? "M100-1.0.0.0" : "N200-2.0.0.6") << "row " << id;
        EXPECT_EQ(r[7], camera ? "M100-2.0.0.0" : "N200-2.0.0.7") << "row " << id;
    }
    EXPECT_EQ(cameras, kCrowdCameras);
    std::printf("crowd: %d cameras and %d recorders, %d KiB each, ACK 2 ms late: %s\n",
                kCrowdCameras, kCrowdRecorders, kCrowdKiB, out.substr(0, out.find('\n')).c_str());
}

// Catches transfers that die of lost datagrams: a lost DATA or ACK never resent, a resend
// held off by the client's own repeats, a duplicate taken as new data (the download would
// differ from the package). The device ports are spared: a lost report has no resend.
TEST_F(RoadLoadTest, HundredDevicesUpgradeThroughTenPercentTftpLoss) {
    MakePackage(kLossKiB);
    // The default log level: at the verbose one every line is flushed to disk under the log's
    // lock, and a busy disk then holds the transfers up for seconds (bench/loss_bench.sh counts
    // the server's resends that way, on a quiet machine).
    StartOrvane("[CNFINFO]\r\nAppLanguage=2\r\n");
    ASSERT_TRUE(AddRuleOnBothSides({"INPUT", "-p", "udp", "-m", "multiport", "!", "--ports",
                                    "10010,10011", "-m", "statistic", "--mode", "random",
                                    "--probability", "0.1", "-j", "DROP"}));
    // The devices resend on the same 1 s clock and keep trying for as long as the server does
    // (six time-outs): a device that gave up sooner would fail a block the server was still
    // resending.
    const std::string out =
        RunDevices({"--ask-timeout", "1", "--tftp-timeout", "1000", "--tftp-tries", "7"});
    ExpectEveryRowComplete();

    // Intact downloads through DATA dropped on the devices' side mean the server resent them.
    auto sum = test::DevsimFields(out);
    auto resends = test::DevsimFields(out, 1);
    std::printf(
        "loss: %d devices, %d KiB each, 10%% of TFTP datagrams dropped each way: road %s s; "
        "devices resent %s TFTP packets (%s ACKs repeated for a DATA seen twice, %s requests)\n",
        kDevices, kLossKiB, sum["road-s"].c_str(), resends["tftp"].c_str(),
        resends["tftp-dup-acks"].c_str(), resends["requests"].c_str());
    EXPECT_GT(std::atoi(resends["tftp"].c_str()), 0) << "no loss reached the transfers";
}

}  // namespace
}  // namespace orvane
