#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "protocol/device_message.h"
#include "protocol/report_stage.h"

namespace orvane {

class ServiceView;

// One device record of the device table.
struct IpcInfo {
    int32_t iDeviceKind = kDeviceKindUnknown;  // decides the last stage (report_stage.h)
    bool bFinished = false;                    // the last stage reported success
    int32_t nIndex = -1;  // row of the device list showing this record, -1 for none
    std::string szModel;
    std::string szMac;  // the key records are found by; emptied once the outcome is counted
    std::string szIpAddr;
    std::string szSchedule;  // "Schedule:" value followed by "%"
    std::string szState;     // "State:" value as received
    std::string szStatus;
    std::string szPreVersion;       // the device's whole "Version:" value
    std::string szUpgradedVersion;  // version of the firmware sent, shown on success only
    int32_t iEvent = 0;             // report event the record was made from
    // Its outcome has been counted. A report with an empty MAC still finds a retired record;
    // this keeps such a report from counting that device a second time.
    bool bCounted = false;
    // The request handling answered (or parked) the device: its one row is never refused.
    bool bAnswered = false;
    // Told it gets nothing this run (same version, not in this upgrade) or kept waiting for
    // its turn: it was never on its way, so Stop records no "incomplete" for it.
    bool bNoUpgrade = false;
    // Monotonic milliseconds when the table first held this device (its first request, or
    // the first report of a device it did not know); set by the table.
    int64_t iFirstSeenMs = 0;
};

// The record of a requesting device: its model, MAC and the version it runs, with `status`.
IpcInfo RecordOfRequest(const DeviceRequest& request, std::string status = std::string());

// Devices the request handling answers between two clears of the list, and rows that reports
// of devices never answered may add in that time: both come from the network, so a request or
// a report beyond is dropped (logged). Answered devices never lose their row to made-up
// reports, and the records the table keeps beside the rows are bounded too (see TrimRecords).
constexpr int kMaxDeviceRows = 10000;
// Rows the list can hold between two clears: the answered devices' and the reports' together.
constexpr int kMaxListRows = 2 * kMaxDeviceRows;

// Columns of the device list: ID, model, IP address, status, schedule, pre-upgrade version,
// upgraded version.
constexpr int kDeviceColumns = 7;
using DeviceRow = std::array<std::string, kDeviceColumns>;
// The columns' header texts.
constexpr int kDeviceColumnTexts[kDeviceColumns] = {
    kTextColumnId,       kTextColumnModel,      kTextColumnIpAddress,      kTextColumnStatus,
    kTextColumnSchedule, kTextColumnPreVersion, kTextColumnUpgradedVersion};

// What changed in the model, as a value a front-end can keep: the texts are copies taken
// when the change was made.
struct DeviceTableChange {
    enum Kind {
        kRowAdded,     // row rowIndex appended (or inserted as row 0 into an empty list)
        kRowChanged,   // texts of row rowIndex rewritten
        kRowsCleared,  // every row deleted (Clear List, Start)
        kCounters,     // a counter changed or both were reset
    };
    Kind kind = kRowChanged;
    int rowIndex = -1;     // kRowAdded, kRowChanged
    DeviceRow row;         // kRowAdded, kRowChanged: the row's texts after the change
    int successCount = 0;  // both counters after the change, for every kind
    int failCount = 0;
};

// A reader of the model beyond the front-end's view (the upgrade record, the web view, the
// metrics). Told of everything with the table's lock held, like the view: copy what is needed
// and return; never write a file or a socket from here, never call back into the model.
class DeviceTableObserver {
  public:
    virtual ~DeviceTableObserver() = default;
    // Every change, in order, as the view gets it.
    virtual void OnDeviceTableChanged(const DeviceTableChange& /*change*/) {}
    // A device's outcome was counted: `record` as it stood then (MAC not yet emptied, nIndex
    // its row, iEvent the report that decided it).
    virtual void OnDeviceOutcome(const IpcInfo& /*record*/, bool /*success*/) {}
    // A device on its way fell silent and was given up on (RetireStalled): `record` as it
    // stood then, neither a success nor a failure of the counters.
    virtual void OnDeviceIncomplete(const IpcInfo& /*record*/) {}
};

// The device table (records) and the device list (rows of seven texts) with the two
// counters: one model that both front-ends render. Row numbers are decided under the
// table's lock, so calls from request workers, the dispatcher and the cloud thread never
// give one device two rows or two rows one number.
//
// Every change is told to the view in the order it was made, with the table's lock held:
// the view must copy what it needs and return, never call back into the model from there
// and never wait for its user-interface thread.
class DeviceTable {
  public:
    // `maxRows` bounds the device list (tests pass small ones).
    explicit DeviceTable(ServiceView& view, int maxRows = kMaxDeviceRows);
    DeviceTable(const DeviceTable&) = delete;
    DeviceTable& operator=(const DeviceTable&) = delete;

    // Merges one record into the records, the rows and the counters (the three ways of the
    // device-table merge); counts a device's outcome once and retires its record. An answered
    // device always gets its row; a record of a device never answered that would need a new row
    // once maxRows such rows were added since the list was cleared is dropped (logged) and
    // changes nothing, and so is a new answered record (record.bAnswered, a same-version row)
    // once maxRows devices were answered.
    void UpdateDeviceTable(IpcInfo record);

    // The request handling's record steps, each one atomic under the table's lock.
    // Whether a request of `mac` may be answered: its device has a record, or fewer than
    // maxRows devices were answered since the list was cleared.
    bool AdmitDevice(const std::string& mac) const;
    // Cloud path: when no record carries record.szMac, appends `record` as answered and shows
    // it as a row (kShown); kKnown when a record with that MAC exists (nothing changed);
    // kRefused when no more devices are admitted (nothing changed).
    enum CloudDeviceResult { kShown, kKnown, kRefused };
    CloudDeviceResult AddCloudDevice(const IpcInfo& record);
    // Assignment path: the record with record.szMac gets its address, upgraded version and
    // device kind from `record`; without one, `record` is appended. Either way it is answered.
    // No row yet. Never refuses: AdmitDevice decides before the device is answered.
    void RecordAssignment(const IpcInfo& record);
    // A device kept waiting for its turn: like AddCloudDevice, and a known device's row takes
    // the record's status. Its record is marked bNoUpgrade until it is assigned.
    CloudDeviceResult ShowWaitingDevice(const IpcInfo& record);
    // Gives up on the device of `mac` (silent too long): observers are told it is
    // incomplete, and its record is retired as if counted, without touching the counters.
    void RetireStalled(const std::string& mac);

    // Start: deletes every row, then every record.
    void ClearDeviceList();
    int MaxRows() const { return m_iMaxRows; }
    // Clear List: deletes every row and resets both counters; the records keep their nIndex.
    void ClearList();
    // Start: both counters back to 0.
    void ResetCounters();

    // Observers are added and removed under the table's lock, so one removed is never told
    // anything afterwards. Not owned.
    void AddObserver(DeviceTableObserver* observer);
    void RemoveObserver(DeviceTableObserver* observer);

    // Reads for the front-ends and tests; any thread.
    int RowCount() const;
    // Texts of row `row`; empty texts when there is no such row.
    DeviceRow Row(int row) const;
    std::vector<DeviceRow> Rows() const;
    int SuccessCount() const;
    int FailCount() const;
    std::vector<IpcInfo> Records() const;

  private:
    // Helpers below run with m_csDeviceTable held.
    int FindRecord(const std::string& mac) const;
    // Appends a record, then trims the records: past kTrimAbove the records of devices that
    // have ended (counted, or without a MAC) go, oldest first, and never one of a device on
    // its way; past 2 * maxRows (only after Clear Lists) the oldest live ones go, those never
    // answered first.
    void AppendRecord(const IpcInfo& record);
    void TrimRecords();
    // Whether the new row a merge needs may be added (found: the record's index or -1); counts
    // it against its budget when it may.
    bool TakeRow(int found, const IpcInfo& r);
    bool CountOutcome(IpcInfo& stored, bool finished, int state, DeviceRow& row);
    void Notify(DeviceTableChange::Kind kind, int row = -1);

    ServiceView& m_view;
    std::vector<DeviceTableObserver*> m_vecObservers;  // guarded by m_csDeviceTable
    const int m_iMaxRows;
    // Re-entrant: the cloud path shows its row while it holds the lock.
    mutable std::recursive_mutex m_csDeviceTable;
    std::vector<IpcInfo> m_vecIpcInfo;  // guarded by m_csDeviceTable
    std::vector<DeviceRow> m_vecRows;   // guarded by m_csDeviceTable
    // Since the list was last cleared (guarded by m_csDeviceTable): devices answered, and rows
    // added for reports of devices never answered.
    int m_iAnswered = 0;
    int m_iReportRows = 0;
    // Taken alone or inside m_csDeviceTable, never the other way round.
    mutable std::mutex m_csCount;
    int m_iSuccessCount = 0;
    int m_iFailCount = 0;
};

}  // namespace orvane
