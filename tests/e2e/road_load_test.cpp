// The crowd road: a hundred devices at once through datagram loss.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "e2e/road_fixture.h"

namespace orvane {
namespace {

constexpr int kDevices = 100;
constexpr int kRoadMs = 600000;  // bound of one simulator run (it bounds itself far below)
// Bound of the wait for the next table line once the devices are through: the dispatcher may
// still be working through their reports for a while on a busy machine.
constexpr int kCatchUpMs = 120000;

class RoadLoadTest : public test::RoadTest {};

// Catches what only a full shelf under loss shows: a device starved of an answer or a transfer
// slot, a lost DATA or ACK never resent, a resend held off by the client's own repeats, a
// duplicate taken as new data (the download would differ from the package), a report lost or
// counted on the wrong row. The device ports are spared: a lost report has no resend.
TEST_F(RoadLoadTest, HundredDevicesUpgradeThroughTenPercentTftpLoss) {
    MakeFirmware({"--version", "X_M100_V2.0.0.0", "--image", "192K", "--pad-to", "256K"},
                 "M100.bin");
    // The default log level: at the verbose one every line is flushed to disk under the log's
    // lock, and a busy disk then holds the transfers up for seconds.
    StartOrvane("[CNFINFO]\r\nAppLanguage=2\r\n");
    ASSERT_TRUE(AddRuleOnBothSides({"INPUT", "-p", "udp", "-m", "multiport", "!", "--ports",
                                    "10010,10011", "-m", "statistic", "--mode", "random",
                                    "--probability", "0.1", "-j", "DROP"}));
    // The devices resend on the same 1 s clock and keep trying for as long as the server does
    // (six time-outs): a device that gave up sooner would fail a block the server was still
    // resending.
    std::string out;
    EXPECT_EQ(Devsim({"--devices", std::to_string(kDevices), "--compare", m_dir.File("fw/M100.bin"),
                      "--ask-timeout", "1", "--tftp-timeout", "1000", "--tftp-tries", "7"},
                     &out, kRoadMs),
              0)
        << out;
    auto sum = test::DevsimFields(out);
    EXPECT_EQ(sum["answered"] + " " + sum["downloaded"] + " " + sum["failures"], "100 100 0")
        << out;
    // Intact downloads through DATA dropped on the devices' side mean the server resent them.
    EXPECT_GT(std::atoi(test::DevsimFields(out, 1)["tftp"].c_str()), 0) << "no loss reached them";

    test::TableLines table;
    EXPECT_TRUE(table.ReadUntil(m_orvane, kDevices, 0, kCatchUpMs));
    EXPECT_EQ(StopOrvane(&table), 0);
    EXPECT_EQ(table.rows.size(), static_cast<size_t>(kDevices));
    EXPECT_EQ(table.CompleteRows(), kDevices);
    EXPECT_EQ(table.successes, kDevices);
    EXPECT_EQ(table.failures, 0);
}

}  // namespace
}  // namespace orvane
