#include "protocol/device_table.h"

#include "protocol/service_view.h"

namespace orvane {

DeviceTable::DeviceTable(ServiceView& view) : m_view(view) {}

// Placeholder merge until the device-table rules land: shows the record as a new row.
void DeviceTable::UpdateDeviceTable(IpcInfo record) {
    std::lock_guard<std::recursive_mutex> lock(m_csDeviceTable);
    DeviceRow row{std::to_string(m_vecRows.size() + 1),
                  record.szModel,
                  record.szIpAddr,
                  record.szStatus,
                  record.szSchedule,
                  record.szPreVersion,
                  std::string()};
    m_vecRows.push_back(row);
    DeviceTableChange change;
    change.kind = DeviceTableChange::kRowAdded;
    change.iRow = static_cast<int>(m_vecRows.size()) - 1;
    change.row = row;
    {
        std::lock_guard<std::mutex> count(m_csCount);
        change.iSuccessCount = m_iSuccessCount;
        change.iFailCount = m_iFailCount;
    }
    m_view.OnDeviceTableChanged(change);
}

bool DeviceTable::AddCloudDevice(const IpcInfo& record) {
    UpdateDeviceTable(record);
    return true;
}

void DeviceTable::RecordAssignment(const IpcInfo& record) {
    std::lock_guard<std::recursive_mutex> lock(m_csDeviceTable);
    m_vecIpcInfo.push_back(record);
}

void DeviceTable::ClearDeviceList() {
    std::lock_guard<std::recursive_mutex> lock(m_csDeviceTable);
    m_vecRows.clear();
    m_vecIpcInfo.clear();
    DeviceTableChange change;
    change.kind = DeviceTableChange::kRowsCleared;
    {
        std::lock_guard<std::mutex> count(m_csCount);
        change.iSuccessCount = m_iSuccessCount;
        change.iFailCount = m_iFailCount;
    }
    m_view.OnDeviceTableChanged(change);
}

void DeviceTable::ClearList() {
    std::lock_guard<std::recursive_mutex> lock(m_csDeviceTable);
    m_vecRows.clear();
    DeviceTableChange change;
    change.kind = DeviceTableChange::kRowsCleared;
    m_view.OnDeviceTableChanged(change);
    ResetCounters();
}

void DeviceTable::ResetCounters() {
    std::lock_guard<std::recursive_mutex> lock(m_csDeviceTable);
    {
        std::lock_guard<std::mutex> count(m_csCount);
        m_iSuccessCount = 0;
        m_iFailCount = 0;
    }
    DeviceTableChange change;
    change.kind = DeviceTableChange::kCounters;
    m_view.OnDeviceTableChanged(change);
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
