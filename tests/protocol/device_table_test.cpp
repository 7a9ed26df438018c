#include "protocol/device_table.h"

#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/recording_view.h"

namespace orvane {
namespace {

// A view that keeps every notice, so tests can replay them.
class ChangeView : public test::RecordingView {
  public:
    void OnDeviceTableChanged(const DeviceTableChange& change) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_vecChanges.push_back(change);
    }
    std::vector<DeviceTableChange> Changes() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_vecChanges;
    }

  private:
    std::mutex m_mutex;
    std::vector<DeviceTableChange> m_vecChanges;
};

// The rows a front-end holds after applying the notices in order.
std::vector<DeviceRow> Replay(const std::vector<DeviceTableChange>& changes) {
    std::vector<DeviceRow> rows;
    for (const auto& c : changes) {
        if (c.kind == DeviceTableChange::kRowsCleared) {
            rows.clear();
        } else if (c.kind == DeviceTableChange::kRowAdded) {
            EXPECT_EQ(c.iRow, static_cast<int>(rows.size()));
            rows.push_back(c.row);
        } else if (c.kind == DeviceTableChange::kRowChanged) {
            EXPECT_LT(c.iRow, static_cast<int>(rows.size()));
            if (c.iRow >= 0 && c.iRow < static_cast<int>(rows.size())) {
                rows[c.iRow] = c.row;
            }
        }
    }
    return rows;
}

// A record as the report handling makes it.
IpcInfo Report(const std::string& mac, int event, const std::string& state) {
    IpcInfo r;
    r.szMac = mac;
    r.iEvent = event;
    r.szState = state;
    r.szModel = "M";
    r.szIpAddr = "10.0.0.11";
    r.szSchedule = "30%";
    r.szStatus = "e" + std::to_string(event) + "s" + state;
    r.szPreVersion = "M-1.0.0.4";
    return r;
}

// A record as the assignment path makes it.
IpcInfo Assigned(const std::string& mac, int kind) {
    IpcInfo r;
    r.szMac = mac;
    r.szModel = "M";
    r.szIpAddr = "10.0.0.12";
    r.szPreVersion = "M-1.0.0.4";
    r.szUpgradedVersion = "M-1.0.0.5";
    r.iDeviceKind = kind;
    return r;
}

constexpr int kFileSystem = 3;
constexpr int kUpdate = 11;

// Catches the end of an upgrade judged by the wrong stage for the device's kind, an outcome
// counted twice, and a counted device whose next report rewrites its old row.
TEST(DeviceTableTest, EachKindIsCountedOnceOnItsLastStage) {
    struct Step {
        int event;
        const char* state;
        int rows, successes, failures;
        const char* upgraded;  // column 6 of the device's last row
    };
    struct Case {
        const char* name;
        int kind;  // -1: no assignment before the reports (kind stays unknown)
        std::vector<Step> steps;
    };
    const Case cases[] = {
        {"camera",
         0,
         {{0, "1", 1, 0, 0, ""},
          {kFileSystem, "1", 1, 0, 0, ""},
          {kFileSystem, "0", 1, 1, 0, "M-1.0.0.5"},
          {kUpdate, "0", 2, 1, 0, ""}}},  // retired: a new row, nothing counted
        {"recorder",
         1,
         {{kFileSystem, "0", 1, 0, 0, ""},  // "Upgrade complete" shown, nothing counted
          {kUpdate, "1", 1, 0, 0, ""},
          {kUpdate, "0", 1, 1, 0, "M-1.0.0.5"}}},
        {"unknown kind ends on the file system",
         -1,
         {{0, "1", 1, 0, 0, ""}, {kUpdate, "0", 1, 0, 0, ""}, {kFileSystem, "0", 1, 1, 0, ""}}},
        {"failure states count once",
         0,
         {{0, "7", 1, 0, 0, ""}, {0, "6", 1, 0, 1, ""}, {0, "6", 2, 0, 1, ""}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ChangeView view;
        DeviceTable table(view);
        if (c.kind >= 0) {
            table.RecordAssignment(Assigned("aa", c.kind));
        }
        for (const Step& s : c.steps) {
            table.UpdateDeviceTable(Report("aa", s.event, s.state));
            ASSERT_EQ(table.RowCount(), s.rows);
            EXPECT_EQ(table.SuccessCount(), s.successes);
            EXPECT_EQ(table.FailCount(), s.failures);
            DeviceRow last = table.Row(s.rows - 1);
            EXPECT_EQ(last[0], std::to_string(s.rows));
            EXPECT_EQ(last[3], std::string("e") + std::to_string(s.event) + "s" + s.state);
            EXPECT_EQ(last[6], s.upgraded);
        }
        EXPECT_EQ(Replay(view.Changes()), table.Rows());
    }
}

// Catches state codes other than 0, 1 and 7 (including out-of-range and negative ones, which
// only the cloud thread could pass) not ending the upgrade as a failure, and text that is not
// a number not read as 0.
TEST(DeviceTableTest, StatesThatEndAnUpgradeAsAFailure) {
    const std::pair<const char*, int> cases[] = {
        {"0", 0}, {"1", 0}, {"7", 0}, {"abc", 0}, {"2", 1},
        {"5", 1}, {"6", 1}, {"8", 1}, {"-1", 1},  {" 3x", 1},
    };
    for (const auto& [state, failures] : cases) {
        SCOPED_TRACE(state);
        ChangeView view;
        DeviceTable table(view);
        table.RecordAssignment(Assigned("aa", 0));
        table.UpdateDeviceTable(Report("aa", 0, state));
        EXPECT_EQ(table.FailCount(), failures);
        EXPECT_EQ(table.Records()[0].szMac.empty(), failures == 1);
    }
}

// Catches Clear List forgetting the records' rows: a known device's next report becomes row 0
// of an empty list, a new row when its old row is gone, or rewrites the row that now has its
// old number; and Start's clear leaving records behind.
TEST(DeviceTableTest, ClearListKeepsRecordsWithTheirOldRows) {
    struct Case {
        const char* name;
        int newDevicesFirst;  // devices that report after the clear, before "c"
        int rows;             // rows afterwards
        int rowOfC;           // the row "c"'s report shows in
    };
    const Case cases[] = {
        {"empty list: row 0", 0, 1, 0},
        {"fewer rows than its old row: appended", 1, 2, 1},
        {"enough rows: rewrites its old number", 3, 3, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ChangeView view;
        DeviceTable table(view);
        for (const char* mac : {"a", "b", "c"}) {
            table.RecordAssignment(Assigned(mac, 0));
            table.UpdateDeviceTable(Report(mac, 0, "1"));
        }
        table.UpdateDeviceTable(Report("a", 0, "6"));  // one failure, cleared below
        table.ClearList();
        EXPECT_EQ(table.RowCount(), 0);
        EXPECT_EQ(table.FailCount(), 0);
        ASSERT_EQ(table.Records().size(), 3u);
        EXPECT_EQ(table.Records()[2].nIndex, 2);
        for (int i = 0; i < c.newDevicesFirst; ++i) {
            table.UpdateDeviceTable(Report("new" + std::to_string(i), 0, "1"));
        }
        table.UpdateDeviceTable(Report("c", kFileSystem, "0"));
        ASSERT_EQ(table.RowCount(), c.rows);
        EXPECT_EQ(table.Row(c.rowOfC)[0], std::to_string(c.rowOfC + 1));
        EXPECT_EQ(table.Row(c.rowOfC)[6], "M-1.0.0.5");
        EXPECT_EQ(table.SuccessCount(), 1);
        EXPECT_EQ(Replay(view.Changes()), table.Rows());
    }
    ChangeView view;
    DeviceTable table(view);
    table.RecordAssignment(Assigned("a", 0));
    table.UpdateDeviceTable(Report("a", 0, "6"));
    table.ClearDeviceList();
    EXPECT_EQ(table.RowCount(), 0);
    EXPECT_TRUE(table.Records().empty());
    EXPECT_EQ(table.FailCount(), 1);  // Start resets the counters in a step of its own
    table.ResetCounters();
    EXPECT_EQ(table.FailCount(), 0);
    EXPECT_EQ(view.Changes().back().kind, DeviceTableChange::kCounters);
}

// Catches a report with an empty MAC not finding the first retired record, and such a report
// counting the retired device again (an in-progress report would add a success).
TEST(DeviceTableTest, EmptyMacFindsTheFirstRetiredRecordButNeverCountsIt) {
    ChangeView view;
    DeviceTable table(view);
    table.RecordAssignment(Assigned("a", 0));
    table.RecordAssignment(Assigned("b", 0));
    table.UpdateDeviceTable(Report("a", kFileSystem, "0"));
    table.UpdateDeviceTable(Report("b", 0, "6"));
    ASSERT_EQ(table.SuccessCount(), 1);
    ASSERT_EQ(table.FailCount(), 1);
    for (const char* state : {"1", "0", "6"}) {
        table.UpdateDeviceTable(Report("", kFileSystem, state));
        EXPECT_EQ(table.RowCount(), 2);
        EXPECT_EQ(table.Row(0)[3], std::string("e3s") + state);  // "a"'s row rewritten
        EXPECT_EQ(table.SuccessCount(), 1);
        EXPECT_EQ(table.FailCount(), 1);
    }
}

// Catches the request paths' trim (first 10 records go once there are more than 100) missing
// or cutting the wrong end, and a second cloud request from one device making a second row.
TEST(DeviceTableTest, RequestRecordsTrimAt101AndCloudRowsOncePerDevice) {
    ChangeView view;
    DeviceTable table(view);
    for (int i = 0; i < 100; ++i) {
        table.RecordAssignment(Assigned("m" + std::to_string(i), 0));
    }
    ASSERT_EQ(table.Records().size(), 100u);
    IpcInfo cloud;
    cloud.szMac = "cloud";
    cloud.szModel = "C";
    cloud.szStatus = "Cloud firmware download";
    EXPECT_TRUE(table.AddCloudDevice(cloud));  // the 101st record
    std::vector<IpcInfo> records = table.Records();
    ASSERT_EQ(records.size(), 91u);
    EXPECT_EQ(records.front().szMac, "m10");
    EXPECT_EQ(records.back().szMac, "cloud");
    EXPECT_EQ(records.back().nIndex, 0);
    EXPECT_FALSE(table.AddCloudDevice(cloud));
    ASSERT_EQ(table.RowCount(), 1);
    EXPECT_EQ(table.Row(0), (DeviceRow{"1", "C", "", "Cloud firmware download", "", "", ""}));
    // An assignment for a known device updates its record instead of adding one.
    table.RecordAssignment(Assigned("cloud", 1));
    EXPECT_EQ(table.Records().size(), 91u);
    EXPECT_EQ(table.Records().back().iDeviceKind, 1);
    EXPECT_EQ(table.Records().back().szIpAddr, "10.0.0.12");
}

// Catches the device list growing without bound under a flood of new MACs: past the bound a
// new device is dropped whole, while shown devices still update.
TEST(DeviceTableTest, ListFullDropsNewDevicesOnly) {
    ChangeView view;
    DeviceTable table(view, 3);
    for (int i = 0; i < 5; ++i) {
        table.UpdateDeviceTable(Report("m" + std::to_string(i), 0, "1"));
    }
    EXPECT_EQ(table.RowCount(), 3);
    EXPECT_EQ(table.Records().size(), 3u);
    table.UpdateDeviceTable(Report("m1", 0, "6"));
    EXPECT_EQ(table.Row(1)[3], "e0s6");
    EXPECT_EQ(table.FailCount(), 1);
    table.UpdateDeviceTable(Report("m1", 0, "1"));  // retired: would need a fourth row
    EXPECT_EQ(table.RowCount(), 3);
    EXPECT_EQ(Replay(view.Changes()), table.Rows());
}

// Catches row numbers decided outside the lock: requests and reports of many devices merged
// from many threads at once must give each device one row, each row its own number, and
// notices whose replay gives the same list.
TEST(DeviceTableTest, ConcurrentRequestsAndReportsKeepOneRowPerDevice) {
    constexpr int kThreads = 8;
    // 96 devices: under the 100 records past which the request paths trim the table.
    constexpr int kDevicesPerThread = 12;
    ChangeView view;
    DeviceTable table(view);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&table, t] {
            for (int d = 0; d < kDevicesPerThread; ++d) {
                const std::string mac = std::to_string(t) + ":" + std::to_string(d);
                if (d % 4 == 0) {
                    IpcInfo cloud;
                    cloud.szMac = mac;
                    cloud.szModel = mac;
                    table.AddCloudDevice(cloud);
                }
                IpcInfo assigned = Assigned(mac, d % 2);
                assigned.szModel = mac;
                table.RecordAssignment(assigned);
                for (int event : {0, 1, 2, kFileSystem, kUpdate}) {
                    IpcInfo r = Report(mac, event, "1");
                    r.szModel = mac;
                    table.UpdateDeviceTable(r);
                }
                IpcInfo last = Report(mac, d % 2 ? kUpdate : kFileSystem, "0");
                last.szModel = mac;
                table.UpdateDeviceTable(last);
            }
        });
    }
    for (auto& th : threads) {
        th.join();
    }
    const std::vector<DeviceRow> rows = table.Rows();
    ASSERT_EQ(rows.size(), static_cast<size_t>(kThreads * kDevicesPerThread));
    std::map<std::string, int> rowsOfDevice;
    for (size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i][0], std::to_string(i + 1));
        ++rowsOfDevice[rows[i][1]];
    }
    EXPECT_EQ(rowsOfDevice.size(), rows.size());
    EXPECT_EQ(table.SuccessCount(), kThreads * kDevicesPerThread);
    EXPECT_EQ(Replay(view.Changes()), rows);
}

}  // namespace
}  // namespace orvane
