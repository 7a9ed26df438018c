#include <gtest/gtest.h>

#include <set>
#include <string>

#include "e2e/road_fixture.h"

namespace orvane {
namespace {

constexpr int kRoadMs = 120000;  // bound of one simulator run (it bounds itself far below)

using DeviceRoadTest = test::RoadTest;

// Catches any break on the road between real processes: a device not answered, a file served
// wrong, a report on the wrong row, a row or count given twice or not at all.
TEST_F(DeviceRoadTest, TwentyCamerasAndFourRecordersEndAsTheyReported) {
    MakeFirmware({"--version", "X_M100_V2.0.0.0", "--image", "300K", "--image", "7K"}, "M100.bin");
    MakeFirmware({"--kind", "nvr", "--version", "N200_V2.0.0.7", "--pad-to", "200K"}, "N200.bin");
    ASSERT_NO_FATAL_FAILURE(StartOrvane());
    std::string out;
    // Every tenth camera reports its kernel stage failed (state 6).
    ASSERT_EQ(Devsim({"--devices", "20", "--model", "M100", "--version", "1.0.0.0", "--compare",
                      m_dir.File("fw/M100.bin"), "--fail-share", "0.1", "--fail-stage", "kernel",
                      "--fail-state", "6"},
                     &out, kRoadMs),
              0)
        << out;
    auto sum = test::DevsimFields(out);
    EXPECT_EQ(
        sum["answered"] + " " + sum["downloaded"] + " " + sum["failures"] + " " + sum["injected"],
        "20 20 0 2")
        << out;
    test::TableLines table;
    ASSERT_TRUE(table.ReadUntil(m_orvane, 18, 2, kWaitMs));

    ASSERT_EQ(Devsim({"--devices", "4", "--kind", "nvr", "--model", "N200", "--version", "2.0.0.6",
                      "--mac", "02:00:00:00:01:01", "--compare", m_dir.File("fw/N200.bin")},
                     &out, kRoadMs),
              0)
        << out;
    ASSERT_TRUE(table.ReadUntil(m_orvane, 22, 2, kWaitMs));
    // Stopping flushes whatever row line is still on its way.
    EXPECT_EQ(StopOrvane(&table), 0);
    EXPECT_EQ(table.successes, 22);
    EXPECT_EQ(table.failures, 2);
    // Rows 1..20 are the cameras, 21..24 the recorders, each at its own address.
    ASSERT_EQ(table.rows.size(), 24u);
    std::set<std::string> addresses;
    int complete = 0;
    for (int id = 1; id <= 24; ++id) {
        const auto& r = table.rows[std::to_string(id)];
        ASSERT_EQ(r.size(), 8u) << "row " << id;
        EXPECT_EQ(r[2], id <= 20 ? "M100" : "N200");
        addresses.insert(r[3]);
        complete += r[4] == "Upgrade complete" && r[5] == "100%";
    }
    EXPECT_EQ(complete, 22);
    EXPECT_EQ(addresses.size(), 24u) << "every device its own address";
}

}  // namespace
}  // namespace orvane
