#include <gtest/gtest.h>

#include <algorithm>
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

// Catches a halt that comes late or never, devices answered after it, a scope that lets
// others in, and waiting or out-of-scope devices counted or recorded as incomplete.
TEST_F(DeviceRoadTest, ScopeAndHaltAfterThreeFailures) {
    MakeFirmware({"--version", "X_M100_V2.0.0.0", "--image", "20K"}, "M100.bin");
    // Devices 1..6 are in the scope, 7 and 8 are not.
    m_dir.Write("site.txt",
                "# this job\n02:00:00:00:00:01\n02-00-00-00-00-02\n02:00:00:00:00:03\n"
                "02:00:00:00:00:04\n02:00:00:00:00:05\n02:00:00:00:00:06\n");
    ASSERT_NO_FATAL_FAILURE(
        StartOrvane({"--only", m_dir.File("site.txt"), "--halt-after", "3", "--max-at-once", "1"}));
    std::string out;
    // One device at a time, each failing at its kernel stage; one place, so the third failure
    // frees it and halts in one step.
    Devsim({"--devices", "8", "--model", "M100", "--version", "1.0.0.0", "-j", "1", "--fail-share",
            "1", "--fail-stage", "kernel", "--request-interval", "300", "--request-tries", "3"},
           &out, kRoadMs);
    auto sum = test::DevsimFields(out);
    // 3 upgraded and failed, 3 never answered after the halt, 2 told there is nothing new.
    EXPECT_EQ(sum["answered"] + " " + sum["downloaded"] + " " + sum["injected"], "5 3 3") << out;
    test::TableLines table;
    EXPECT_EQ(StopOrvane(&table), 0);
    EXPECT_EQ(table.failures, 3);
    EXPECT_EQ(table.successes, 0);
    ASSERT_FALSE(table.notes.empty());
    EXPECT_EQ(table.notes.front(), "Scope: 6 devices, 1 at once, halt after 3 failures");
    EXPECT_EQ(table.notes.back(), "Halted after 3 failures");
    int waiting = 0;
    for (const auto& row : table.rows) {
        waiting += row.second[4] == "Waiting for its turn";
    }
    EXPECT_EQ(waiting, 3);
    // The record: the three failures only.
    const std::string record = test::ReadWholeFile(m_dir.File("upgrades.csv"));
    EXPECT_EQ(std::count(record.begin(), record.end(), '\n'), 4) << record;
}

}  // namespace
}  // namespace orvane
