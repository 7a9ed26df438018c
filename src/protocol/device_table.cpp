#include "protocol/device_table.h"

#include <algorithm>
#include <cstddef>
#include <utility>

#include "platform/clock.h"
#include "protocol/device_message.h"
#include "protocol/report_stage.h"
#include "protocol/service_view.h"
#include "support/log.h"

namespace orvane {

namespace {

// Records of ended devices kept for reports with an empty MAC (they find the first retired
// record): past this many records the oldest of them go.
constexpr size_t kTrimAbove = 100;

// States that end nothing: the stage is under way, or the device repairs its boot loader.
bool IsOngoingState(int state) {
    switch (static_cast<ReportState>(state)) {
        case ReportState::kDone:
        case ReportState::kBusy:
        case ReportState::kUbootRepair:
            return true;
        default:
            return false;
    }
}

// The record and the web view measure a device's time from here.
void StampFirstSeen(IpcInfo& record) {
    if (record.iFirstSeenMs == 0) {
        record.iFirstSeenMs = platform::MonotonicMs();
    }
}

// Its device has ended: counted, or a report without a MAC that no later report can find by
// its own.
bool HasEnded(const IpcInfo& r) {
    return r.bCounted || r.szMac.empty();
}

// Erases up to `count` records for which `pick` holds, oldest first, in one pass that keeps
// the order of the others.
template <typename Pick>
void EraseOldest(std::vector<IpcInfo>& records, size_t count, Pick pick) {
    size_t erased = 0;
    size_t kept = 0;
    for (size_t i = 0; i < records.size(); ++i) {
        if (erased < count && pick(records[i])) {
            ++erased;
            continue;
        }
        if (kept != i) {
            records[kept] = std::move(records[i]);
        }
        ++kept;
    }
    records.erase(records.begin() + static_cast<std::ptrdiff_t>(kept), records.end());
}

}  // namespace

IpcInfo RecordOfRequest(const DeviceRequest& request, std::string status) {
    IpcInfo record;
    record.szPreVersion = request.szVersion;
    record.szModel = request.szModel;
    record.szMac = request.szMac;
    record.szStatus = std::move(status);
    return record;
}

DeviceTable::DeviceTable(ServiceView& view, int maxRows) : m_view(view), m_iMaxRows(maxRows) {}

int DeviceTable::FindRecord(const std::string& mac) const {
    for (size_t i = 0; i < m_vecIpcInfo.size(); ++i) {
        if (m_vecIpcInfo[i].szMac == mac) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

void DeviceTable::AppendRecord(const IpcInfo& record) {
    m_vecIpcInfo.push_back(record);
    StampFirstSeen(m_vecIpcInfo.back());
    TrimRecords();
}

// A device on its way keeps its record, whatever else is in flight: dropped, its next report
// would make a second row, and a recorder would be counted at its file-system stage. What
// bounds the live records is the number of rows and answers between two clears.
void DeviceTable::TrimRecords() {
    if (m_vecIpcInfo.size() > kTrimAbove) {
        EraseOldest(m_vecIpcInfo, m_vecIpcInfo.size() - kTrimAbove, HasEnded);
    }
    // Live records outlive Clear List, so many clears could pile them up: past this bound the
    // oldest go after all, first those of devices never answered (made up, most likely).
    const size_t hardBound = 2 * static_cast<size_t>(m_iMaxRows) + kTrimAbove;
    if (m_vecIpcInfo.size() > hardBound) {
        EraseOldest(m_vecIpcInfo, m_vecIpcInfo.size() - hardBound,
                    [](const IpcInfo& r) { return !r.bAnswered; });
    }
    if (m_vecIpcInfo.size() > hardBound) {
        EraseOldest(m_vecIpcInfo, m_vecIpcInfo.size() - hardBound,
                    [](const IpcInfo&) { return true; });
    }
}

bool DeviceTable::TakeRow(int found, const IpcInfo& r) {
    if (found >= 0 && m_vecIpcInfo[found].bAnswered) {
        return true;  // its row was promised when it was answered
    }
    if (found < 0 && r.bAnswered) {
        if (m_iAnswered >= m_iMaxRows) {
            return false;
        }
        ++m_iAnswered;
        return true;
    }
    if (m_iReportRows >= m_iMaxRows) {
        return false;
    }
    ++m_iReportRows;
    return true;
}

bool DeviceTable::AdmitDevice(const std::string& mac) const {
    std::lock_guard<std::recursive_mutex> lock(m_csDeviceTable);
    return FindRecord(mac) >= 0 || m_iAnswered < m_iMaxRows;
}

void DeviceTable::Notify(DeviceTableChange::Kind kind, int row) {
    DeviceTableChange change;
    change.kind = kind;
    if (row >= 0) {
        change.rowIndex = row;
        change.row = m_vecRows[row];
    }
    {
        std::lock_guard<std::mutex> count(m_csCount);
        change.successCount = m_iSuccessCount;
        change.failCount = m_iFailCount;
    }
    m_view.OnDeviceTableChanged(change);
    for (DeviceTableObserver* observer : m_vecObservers) {
        observer->OnDeviceTableChanged(change);
    }
}

// Counts the stored record's outcome once: success when its last stage finished (the row
// then shows the upgraded version), failure for a state that ends the upgrade otherwise.
// Either way its MAC is emptied, so the device's next report starts a new row. True when a
// counter changed.
bool DeviceTable::CountOutcome(IpcInfo& stored, bool finished, int state, DeviceRow& row) {
    if (stored.bCounted) {
        return false;
    }
    if (!finished && IsOngoingState(state)) {
        return false;
    }
    {
        std::lock_guard<std::mutex> count(m_csCount);
        if (finished) {
            row[6] = stored.szUpgradedVersion;
            ++m_iSuccessCount;
        } else {
            ++m_iFailCount;
        }
    }
    for (DeviceTableObserver* observer : m_vecObservers) {
        observer->OnDeviceOutcome(stored, finished);
    }
    stored.szMac.clear();
    stored.bCounted = true;
    return true;
}

namespace {
// Every report merges, and anyone can send reports: these lines come one a second per kind.
LogRateLimit g_mergeLines;
LogRateLimit g_listFullLines;
LogRateLimit g_newRowLines;
}  // namespace

// The whole merge runs under the table's lock, the row count included: two threads merging
// at once can then neither give one device two rows nor two rows one number.
void DeviceTable::UpdateDeviceTable(IpcInfo r) {
    std::lock_guard<std::recursive_mutex> lock(m_csDeviceTable);
    const int found = FindRecord(r.szMac);
    const int itemCount = static_cast<int>(m_vecRows.size());
    const int shownAt = found >= 0 ? m_vecIpcInfo[found].nIndex : -1;
    WriteLogLimited(g_mergeLines, kLogMajor,
                    "#####1111 mac=%s, bFindInfo=%d, stIpcInfo.nIndex=%d, iItemCount=%d",
                    r.szMac.c_str(), found >= 0 ? 1 : 0, shownAt, itemCount);
    const bool firstRow = found >= 0 && itemCount == 0;
    const bool ownRow = found >= 0 && shownAt >= 0 && shownAt < itemCount;
    if (!ownRow && !TakeRow(found, r)) {
        WriteLogLimited(g_listFullLines, kLogMajor,
                        "UpdateDeviceTable device list full (%d rows), mac=%s dropped", itemCount,
                        r.szMac.c_str());
        return;
    }

    const int state = ProtocolAtoi(r.szState);
    IpcInfo st;  // the stored record as the merge left it
    if (found >= 0) {
        IpcInfo& stored = m_vecIpcInfo[found];
        stored.szPreVersion = r.szPreVersion;
        stored.szStatus = r.szStatus;
        stored.szSchedule = r.szSchedule;
        stored.szState = r.szState;
        stored.iEvent = r.iEvent;
        if (IsLastStage(stored.iDeviceKind, r.iEvent) &&
            state == static_cast<int>(ReportState::kDone)) {
            stored.bFinished = true;
        }
        st = stored;
    }

    bool counted = false;
    int row = itemCount;
    if (firstRow) {
        row = 0;
        m_vecRows.push_back(DeviceRow{"1", st.szModel, st.szIpAddr, st.szStatus, st.szSchedule,
                                      st.szPreVersion, std::string()});
        m_vecIpcInfo[found].nIndex = 0;
        counted = CountOutcome(m_vecIpcInfo[found], st.bFinished, state, m_vecRows[0]);
    } else if (ownRow) {
        row = shownAt;
        DeviceRow& texts = m_vecRows[row];
        texts[1] = st.szModel;
        texts[2] = st.szIpAddr;
        texts[3] = st.szStatus;
        texts[4] = st.szSchedule;
        texts[5] = st.szPreVersion;
        // A rewritten row counts a success only while its state is one that ends nothing.
        counted =
            CountOutcome(m_vecIpcInfo[found], st.bFinished && IsOngoingState(state), state, texts);
    } else {
        WriteLogLimited(g_newRowLines, kLogMajor,
                        "#####2222 mac=%s, bFindInfo=%d, stIpcInfo.nIndex=%d, iItemCount=%d\r\n",
                        r.szMac.c_str(), found >= 0 ? 1 : 0, shownAt, itemCount);
        m_vecRows.push_back(DeviceRow{std::to_string(itemCount + 1), r.szModel, r.szIpAddr,
                                      r.szStatus, r.szSchedule, r.szPreVersion, std::string()});
        if (found >= 0) {
            IpcInfo& stored = m_vecIpcInfo[found];
            stored.nIndex = row;
            counted = CountOutcome(stored, stored.bFinished, state, m_vecRows[row]);
        } else {
            r.nIndex = row;
            AppendRecord(r);
        }
    }
    Notify(ownRow ? DeviceTableChange::kRowChanged : DeviceTableChange::kRowAdded, row);
    if (counted) {
        Notify(DeviceTableChange::kCounters);
    }
}

DeviceTable::CloudDeviceResult DeviceTable::AddCloudDevice(const IpcInfo& record) {
    std::lock_guard<std::recursive_mutex> lock(m_csDeviceTable);
    if (FindRecord(record.szMac) >= 0) {
        return kKnown;
    }
    if (m_iAnswered >= m_iMaxRows) {
        return kRefused;
    }
    ++m_iAnswered;
    IpcInfo answered = record;
    answered.bAnswered = true;
    AppendRecord(answered);
    UpdateDeviceTable(answered);
    return kShown;
}

void DeviceTable::RecordAssignment(const IpcInfo& record) {
    std::lock_guard<std::recursive_mutex> lock(m_csDeviceTable);
    const int found = FindRecord(record.szMac);
    if (found >= 0) {
        IpcInfo& stored = m_vecIpcInfo[found];
        stored.szIpAddr = record.szIpAddr;
        stored.szUpgradedVersion = record.szUpgradedVersion;
        stored.iDeviceKind = record.iDeviceKind;
        stored.bAnswered = true;
        stored.bNoUpgrade = false;
        return;
    }
    ++m_iAnswered;
    IpcInfo answered = record;
    answered.bAnswered = true;
    AppendRecord(answered);
}

DeviceTable::CloudDeviceResult DeviceTable::ShowWaitingDevice(const IpcInfo& record) {
    std::lock_guard<std::recursive_mutex> lock(m_csDeviceTable);
    const int found = FindRecord(record.szMac);
    if (found < 0) {
        IpcInfo waiting = record;
        waiting.bNoUpgrade = true;
        return AddCloudDevice(waiting);
    }
    m_vecIpcInfo[found].bNoUpgrade = true;
    if (m_vecIpcInfo[found].szStatus != record.szStatus) {
        UpdateDeviceTable(record);
    }
    return kKnown;
}

void DeviceTable::RetireStalled(const std::string& mac) {
    std::lock_guard<std::recursive_mutex> lock(m_csDeviceTable);
    const int found = FindRecord(mac);
    if (found < 0 || m_vecIpcInfo[found].bCounted) {
        return;
    }
    IpcInfo& stored = m_vecIpcInfo[found];
    for (DeviceTableObserver* observer : m_vecObservers) {
        observer->OnDeviceIncomplete(stored);
    }
    stored.szMac.clear();
    stored.bCounted = true;
}

void DeviceTable::ClearDeviceList() {
    std::lock_guard<std::recursive_mutex> lock(m_csDeviceTable);
    m_vecRows.clear();
    m_iAnswered = 0;
    m_iReportRows = 0;
    Notify(DeviceTableChange::kRowsCleared);
    m_vecIpcInfo.clear();
}

void DeviceTable::ClearList() {
    std::lock_guard<std::recursive_mutex> lock(m_csDeviceTable);
    m_vecRows.clear();
    m_iAnswered = 0;
    m_iReportRows = 0;
    Notify(DeviceTableChange::kRowsCleared);
    ResetCounters();
}

// Under the table's lock too, so the reset takes its place in the order of the notices.
void DeviceTable::ResetCounters() {
    std::lock_guard<std::recursive_mutex> lock(m_csDeviceTable);
    {
        std::lock_guard<std::mutex> count(m_csCount);
        m_iSuccessCount = 0;
        m_iFailCount = 0;
    }
    Notify(DeviceTableChange::kCounters);
}

void DeviceTable::AddObserver(DeviceTableObserver* observer) {
    std::lock_guard<std::recursive_mutex> lock(m_csDeviceTable);
    m_vecObservers.push_back(observer);
}

void DeviceTable::RemoveObserver(DeviceTableObserver* observer) {
    std::lock_guard<std::recursive_mutex> lock(m_csDeviceTable);
    m_vecObservers.erase(std::remove(m_vecObservers.begin(), m_vecObservers.end(), observer),
                         m_vecObservers.end());
}

int DeviceTable::RowCount() const {
    std::lock_guard<std::recursive_mutex> lock(m_csDeviceTable);
    return static_cast<int>(m_vecRows.size());
}

DeviceRow DeviceTable::Row(int row) const {
    std::lock_guard<std::recursive_mutex> lock(m_csDeviceTable);
    if (row < 0 || row >= static_cast<int>(m_vecRows.size())) {
        return DeviceRow{};
    }
    return m_vecRows[row];
}

std::vector<DeviceRow> DeviceTable::Rows() const {
    std::lock_guard<std::recursive_mutex> lock(m_csDeviceTable);
    return m_vecRows;
}

int DeviceTable::SuccessCount() const {
    std::lock_guard<std::mutex> count(m_csCount);
    return m_iSuccessCount;
}

int DeviceTable::FailCount() const {
    std::lock_guard<std::mutex> count(m_csCount);
    return m_iFailCount;
}

std::vector<IpcInfo> DeviceTable::Records() const {
    std::lock_guard<std::recursive_mutex> lock(m_csDeviceTable);
    return m_vecIpcInfo;
}

}  // namespace orvane
