#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <sstream>
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

// The MAC and result of each upgrade record line, in order.
std::vector<std::pair<std::string, std::string>> RecordOutcomes(const std::string& path) {
    std::vector<std::pair<std::string, std::string>> lines;
    std::stringstream in(test::ReadWholeFile(path));
    std::string line;
    std::getline(in, line);  // the header
    while (std::getline(in, line)) {
        std::vector<std::string> f;
        std::stringstream fields(line);
        for (std::string field; std::getline(fields, field, ',');) {
            f.push_back(field);
        }
        if (f.size() > 7) {
            lines.emplace_back(f[2], f[7]);
        }
    }
    return lines;
}

// Each device reports a stage every 100 ms: a road long enough for places to be held while
// others ask, every device asking every 100 ms while it waits.
const std::vector<std::string> kSlowDevices = {
    "--model", "M100", "--version", "1.0.0.0", "--report-gap", "100", "--request-interval", "100"};

std::vector<std::string> With(std::vector<std::string> args, const std::vector<std::string>& more) {
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

// Catches a scope that lets others in or keeps its own out, and out-of-scope devices recorded or
// left without their row.
TEST_F(DeviceRoadTest, ScopeOfFiveOutOfTwenty) {
    MakeFirmware({"--version", "X_M100_V2.0.0.0", "--image", "20K"}, "M100.bin");
    m_dir.Write("five.txt",
                "02:00:00:00:00:02\n02-00-00-00-00-06 # by the door\n"
                "02:00:00:00:00:0a\n02:00:00:00:00:0E\n020000000012\n");
    ASSERT_NO_FATAL_FAILURE(StartOrvane({"--only", m_dir.File("five.txt"), "--show-all"}));
    std::string out;
    Devsim({"--devices", "20", "--request-interval", "300"}, &out, kRoadMs);
    auto sum = test::DevsimFields(out);
    // The 15 others get the short reply, an unintended ending to the simulator.
    EXPECT_EQ(sum["answered"] + " " + sum["downloaded"] + " " + sum["failures"], "20 5 15") << out;
    test::TableLines table;
    EXPECT_EQ(StopOrvane(&table), 0);
    EXPECT_EQ(table.successes, 5);
    int outside = 0;
    for (const auto& row : table.rows) {
        outside += row.second[4] == "Not in this upgrade";
    }
    EXPECT_EQ(outside, 15);
    std::set<std::string> upgraded;
    for (const auto& line : RecordOutcomes(m_dir.File("upgrades.csv"))) {
        EXPECT_EQ(line.second, "success") << line.first;
        upgraded.insert(line.first);
    }
    EXPECT_EQ(upgraded,
              (std::set<std::string>{"02:00:00:00:00:02", "02:00:00:00:00:06", "02:00:00:00:00:0A",
                                     "02:00:00:00:00:0E", "02:00:00:00:00:12"}));
}

// Catches more than five under way, the limit never reached, waiters answered out of the order
// they first asked (the simulator measures both from the devices' side), and waiters lost.
TEST_F(DeviceRoadTest, ThirtyAtFiveAtOnceInTheOrderTheyAsked) {
    MakeFirmware({"--version", "X_M100_V2.0.0.0", "--image", "20K"}, "M100.bin");
    ASSERT_NO_FATAL_FAILURE(StartOrvane({"--max-at-once", "5"}));
    std::string out;
    // One device asks first every 50 ms, faster than the places free.
    EXPECT_EQ(Devsim(With(kSlowDevices, {"--devices", "30", "--start-spread-ms", "1500",
                                         "--request-tries", "100"}),
                     &out, kRoadMs),
              0)
        << out;
    auto sum = test::DevsimFields(out);
    EXPECT_EQ(sum["downloaded"] + " " + sum["peak-under-way"] + " " + sum["overtaken"], "30 5 0")
        << out;
    test::TableLines table;
    EXPECT_EQ(StopOrvane(&table), 0);
    EXPECT_EQ(table.successes, 30);
    EXPECT_EQ(table.rows.size(), 30u) << "a waiting device keeps one row";
}

// Catches a failed first group that does not halt, a device answered beyond the group before
// it has succeeded, and a halt the table does not tell.
TEST_F(DeviceRoadTest, FirstGroupOfThreeWithOneFailingHalts) {
    MakeFirmware({"--version", "X_M100_V2.0.0.0", "--image", "20K"}, "M100.bin");
    ASSERT_NO_FATAL_FAILURE(StartOrvane({"--first", "3"}));
    std::string out;
    // Devices ask 100 ms apart; the third (and the sixth) report their kernel stage failed.
    Devsim(With(kSlowDevices, {"--devices", "6", "--start-spread-ms", "600", "--request-tries",
                               "30", "--fail-share", "0.34", "--fail-stage", "kernel"}),
           &out, kRoadMs);
    auto sum = test::DevsimFields(out);
    EXPECT_EQ(sum["answered"] + " " + sum["downloaded"] + " " + sum["injected"], "3 3 1") << out;
    test::TableLines table;
    EXPECT_EQ(StopOrvane(&table), 0);
    EXPECT_EQ(table.successes, 2);
    EXPECT_EQ(table.failures, 1);
    ASSERT_FALSE(table.notes.empty());
    EXPECT_EQ(table.notes.front(), "first group of 3");
    EXPECT_EQ(table.notes.back(), "Halted after 1 failures");
}

// Catches a retry that takes more or fewer devices than the record's failed ones, or misreads
// the record this program writes (from a real run of twenty with four failures).
TEST_F(DeviceRoadTest, RetryFailedTakesOnlyTheFourOfTheRecord) {
    MakeFirmware({"--version", "X_M100_V2.0.0.0", "--image", "20K"}, "M100.bin");
    ASSERT_NO_FATAL_FAILURE(StartOrvane());
    std::string out;
    const std::vector<std::string> twenty = {"--devices", "20", "--request-interval", "300"};
    Devsim(With(twenty, {"--fail-share", "0.2", "--fail-stage", "kernel"}), &out, kRoadMs);
    test::TableLines table;
    ASSERT_EQ(StopOrvane(&table), 0);
    ASSERT_EQ(table.failures, 4);
    const std::string record = m_dir.File("upgrades.csv");
    std::set<std::string> failed;
    for (const auto& line : RecordOutcomes(record)) {
        if (line.second == "failure") {
            failed.insert(line.first);
        }
    }
    ASSERT_EQ(failed.size(), 4u);

    ASSERT_NO_FATAL_FAILURE(StartOrvane({"--retry-failed", record}));
    Devsim(twenty, &out, kRoadMs);
    auto sum = test::DevsimFields(out);
    EXPECT_EQ(sum["answered"] + " " + sum["downloaded"], "20 4") << out;
    ASSERT_EQ(StopOrvane(&table), 0);
    const auto lines = RecordOutcomes(record);
    ASSERT_EQ(lines.size(), 24u);
    std::set<std::string> retried;
    for (size_t i = 20; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i].second, "success");
        retried.insert(lines[i].first);
    }
    EXPECT_EQ(retried, failed);
}

}  // namespace
}  // namespace orvane
