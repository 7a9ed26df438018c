#include "protocol/device_table.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/recording_view.h"

namespace orvane {
namespace {

// Replays the notices as a front-end does, to compare its rows with the model's.
class RowsView : public test::RecordingView {
  public:
    void OnDeviceTableChanged(const DeviceTableChange& c) override {
        if (c.kind == DeviceTableChange::kRowsCleared) {
            m_vecRows.clear();
        } else if (c.kind == DeviceTableChange::kRowAdded) {
            EXPECT_EQ(c.rowIndex, static_cast<int>(m_vecRows.size()));
            m_vecRows.push_back(c.row);
        } else if (c.kind == DeviceTableChange::kRowChanged) {
            m_vecRows.at(c.rowIndex) = c.row;
        }
    }
    std::vector<DeviceRow> m_vecRows;
};

IpcInfo Report(const std::string& mac, int event, const std::string& state) {
    IpcInfo r;
    r.szMac = mac;
    r.iEvent = event;
    r.szState = state;
    r.szStatus = std::to_string(event) + "/" + state;
    return r;
}

IpcInfo Assigned(const std::string& mac, int kind) {
    IpcInfo r;
    r.szMac = mac;
    r.szUpgradedVersion = "V2";
    r.iDeviceKind = kind;
    return r;
}

constexpr int kFs = 3;       // file-system stage
constexpr int kUpdate = 11;  // update stage

// Catches an upgrade's end judged on the wrong stage or state, counted twice, or rewritten.
TEST(DeviceTableTest, EachDeviceIsCountedOnceOnItsLastStage) {
    struct Step {
        int event;
        const char* state;
        int rows, successes, failures;
    };
    struct Case {
        const char* name;
        int kind;  // -1: reports only, the kind stays unknown
        std::vector<Step> steps;
    };
    const Case cases[] = {
        {"camera", 0, {{0, "1", 1, 0, 0}, {kUpdate, "0", 1, 0, 0}, {kFs, "0", 1, 1, 0}}},
        {"recorder", 1, {{kFs, "0", 1, 0, 0}, {kUpdate, "0", 1, 1, 0}, {0, "1", 2, 1, 0}}},
        {"unknown kind", -1, {{0, "1", 1, 0, 0}, {kFs, "0", 1, 1, 0}}},
        {"ongoing states", 0, {{0, "7", 1, 0, 0}, {0, "abc", 1, 0, 0}, {0, "1", 1, 0, 0}}},
        // Retired after its failure: the next report is a new device, counted on its own.
        {"failure", 0, {{0, "2", 1, 0, 1}, {0, "6", 2, 0, 1}, {0, "6", 2, 0, 2}}},
        {"state above 7", 0, {{0, "8", 1, 0, 1}}},
        {"negative state", 0, {{0, "-1", 1, 0, 1}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RowsView view;
        DeviceTable table(view);
        if (c.kind >= 0) {
            table.RecordAssignment(Assigned("aa", c.kind));
        }
        for (const Step& s : c.steps) {
            table.UpdateDeviceTable(Report("aa", s.event, s.state));
            ASSERT_EQ(table.RowCount(), s.rows);
            EXPECT_EQ(table.SuccessCount(), s.successes);
            EXPECT_EQ(table.FailCount(), s.failures);
            const DeviceRow last = table.Row(s.rows - 1);
            EXPECT_EQ(last[0], std::to_string(s.rows));
            EXPECT_EQ(last[3], std::to_string(s.event) + "/" + s.state);
        }
        // The upgraded version shows on the counted success only.
        const bool success = table.SuccessCount() == 1 && c.kind >= 0;
        EXPECT_EQ(table.Row(0)[6], success ? "V2" : "");
        EXPECT_EQ(view.m_vecRows, table.Rows());
    }
}

// Catches Clear List forgetting the records' rows (rewritten, or added when gone) or the counts.
TEST(DeviceTableTest, ClearListKeepsRecordsWithTheirOldRows) {
    const std::pair<int, int> cases[] = {{0, 0}, {1, 1}, {3, 2}};  // new devices first, row of c
    for (const auto& [newDevices, rowOfC] : cases) {
        SCOPED_TRACE(newDevices);
        RowsView view;
        DeviceTable table(view);
        for (const char* mac : {"a", "b", "c"}) {
            table.RecordAssignment(Assigned(mac, 0));
            table.UpdateDeviceTable(Report(mac, 0, "1"));
        }
        table.UpdateDeviceTable(Report("a", 0, "6"));
        table.ClearList();
        EXPECT_EQ(table.FailCount(), 0);
        for (int i = 0; i < newDevices; ++i) {
            table.UpdateDeviceTable(Report("new" + std::to_string(i), 0, "1"));
        }
        table.UpdateDeviceTable(Report("c", kFs, "0"));
        EXPECT_EQ(table.RowCount(), std::max(newDevices, rowOfC + 1));
        EXPECT_EQ(table.Row(rowOfC)[0], std::to_string(rowOfC + 1));
        EXPECT_EQ(table.Row(rowOfC)[6], "V2");
        EXPECT_EQ(view.m_vecRows, table.Rows());
    }
}

// Catches a record of a device on its way trimmed, ended records kept, or the wrong ones trimmed.
TEST(DeviceTableTest, TrimTakesOnlyEndedRecordsOldestFirst) {
    constexpr int kDevices = 150;
    for (int kind : {kDeviceKindIpc, kDeviceKindNvr}) {
        SCOPED_TRACE(kind);
        RowsView view;
        DeviceTable table(view);
        auto mac = [](int i) { return "d" + std::to_string(i); };
        for (int i = 0; i < kDevices; ++i) {
            table.RecordAssignment(Assigned(mac(i), kind));
        }
        std::vector<int> events = {0, kFs};
        if (kind == kDeviceKindNvr) {
            events.push_back(kUpdate);
        }
        for (int event : events) {
            EXPECT_EQ(table.SuccessCount(), 0) << "before stage " << event;
            for (int i = 0; i < kDevices; ++i) {
                table.UpdateDeviceTable(Report(mac(i), event, event == 0 ? "1" : "0"));
            }
        }
        EXPECT_EQ(table.RowCount(), kDevices);
        EXPECT_EQ(table.SuccessCount(), kDevices);
        table.RecordAssignment(Assigned("late", kind));
        const std::vector<IpcInfo> records = table.Records();
        ASSERT_EQ(records.size(), 100u);
        EXPECT_EQ(records.front().nIndex, kDevices - 99);  // the 51 oldest ended ones went
        EXPECT_EQ(records.back().szMac, "late");
        EXPECT_EQ(view.m_vecRows, table.Rows());
    }
}

// Catches forged reports costing an answered device its row, and either row bound missed.
TEST(DeviceTableTest, RowBoundsRefuseMadeUpReportsNeverAnsweredDevices) {
    RowsView view;
    DeviceTable table(view, 3);
    for (const char* forged : {"f0", "f1", "f2", "f3"}) {  // the fourth is dropped
        table.UpdateDeviceTable(Report(forged, 0, "1"));
    }
    EXPECT_EQ(table.RowCount(), 3);
    for (const char* mac : {"a0", "a1"}) {
        ASSERT_TRUE(table.AdmitDevice(mac));
        table.RecordAssignment(Assigned(mac, 0));
        table.UpdateDeviceTable(Report(mac, kFs, "0"));
    }
    EXPECT_EQ(table.RowCount(), 5);
    EXPECT_EQ(table.SuccessCount(), 2);
    IpcInfo sameVersion = Report("s0", 0, "1");
    sameVersion.bAnswered = true;
    table.UpdateDeviceTable(sameVersion);  // the third answered device
    EXPECT_EQ(table.RowCount(), 6);
    EXPECT_FALSE(table.AdmitDevice("a2"));
    EXPECT_TRUE(table.AdmitDevice("f1"));  // known: asking again is always answered
    EXPECT_EQ(table.AddCloudDevice(Assigned("c0", 2)), DeviceTable::kRefused);
    sameVersion.szMac = "s1";
    table.UpdateDeviceTable(sameVersion);
    table.UpdateDeviceTable(Report("f4", 0, "1"));
    EXPECT_EQ(table.RowCount(), 6);
    EXPECT_EQ(view.m_vecRows, table.Rows());

    table.ClearList();  // both bounds start again
    EXPECT_EQ(table.AddCloudDevice(Assigned("c0", 2)), DeviceTable::kShown);
    EXPECT_EQ(table.AddCloudDevice(Assigned("c0", 2)), DeviceTable::kKnown);
    table.UpdateDeviceTable(Report("f4", 0, "1"));
    EXPECT_EQ(table.RowCount(), 2);
}

// Catches an empty MAC missing the first retired record or counting it again, and first sight lost.
TEST(DeviceTableTest, EmptyMacFindsTheFirstRetiredRecordButNeverCountsIt) {
    RowsView view;
    DeviceTable table(view);
    table.RecordAssignment(Assigned("a", 0));
    const int64_t firstSeen = table.Records()[0].iFirstSeenMs;
    EXPECT_GT(firstSeen, 0);
    table.RecordAssignment(Assigned("b", 0));
    table.UpdateDeviceTable(Report("a", kFs, "0"));
    table.UpdateDeviceTable(Report("b", 0, "6"));
    for (const char* state : {"1", "0", "6"}) {
        table.UpdateDeviceTable(Report("", kFs, state));
        EXPECT_EQ(table.RowCount(), 2);
        EXPECT_EQ(table.Row(0)[3], std::string("3/") + state);  // "a"'s row
        EXPECT_EQ(table.SuccessCount(), 1);
        EXPECT_EQ(table.FailCount(), 1);
    }
    EXPECT_EQ(table.Records()[0].iFirstSeenMs, firstSeen);
}

}  // namespace
}  // namespace orvane
