#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "e2e/road_fixture.h"

namespace orvane {
namespace {

constexpr int kRoadMs = 600000;     // bound of one simulator run (it bounds itself far below)
constexpr int kCatchUpMs = 120000;  // bound of the table catching up (a busy machine)

// The crowd: cameras and a group of recorders at once, each package 1 MiB.
constexpr int kCrowdKiB = 1024;
constexpr int kCrowdCameras = 250;
constexpr int kCrowdRecorders = 50;

using RoadLoadTest = test::RoadTest;

// Catches what only a crowd shows: a device starved of an answer or a transfer slot, a download
// mixed up with another's, a second row or a miscounted device among hundreds of slow ones.
TEST_F(RoadLoadTest, CrowdOfSlowDevicesEndsWithOneCompleteRowEach) {
    MakeFirmware({"--version", "X_M100_V2.0.0.0", "--image", std::to_string(kCrowdKiB - 64) + "K",
                  "--pad-to", std::to_string(kCrowdKiB) + "K"},
                 "M100.bin");
    MakeFirmware({"--kind", "nvr", "--version", "N200_V2.0.0.7", "--pad-to",
                  std::to_string(kCrowdKiB) + "K"},
                 "N200.bin");
    StartOrvane();
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
        EXPECT_EQ(r[4] + " " + r[5], "Upgrade complete 100%") << "row " << id;
        EXPECT_EQ(r[6], camera ? "M100-1.0.0.0" : "N200-2.0.0.6") << "row " << id;
        EXPECT_EQ(r[7], camera ? "M100-2.0.0.0" : "N200-2.0.0.7") << "row " << id;
    }
    EXPECT_EQ(cameras, kCrowdCameras);
    std::printf("crowd: %d cameras and %d recorders, %d KiB each, ACK 2 ms late: %s\n",
                kCrowdCameras, kCrowdRecorders, kCrowdKiB, out.substr(0, out.find('\n')).c_str());
}

}  // namespace
}  // namespace orvane
