#pragma once

#include <string>

namespace orvane {

class DeviceTable;
class UpgradeRecord;

// Writes the device list's rows as shown, in the upgrade record's columns: a row whose
// outcome is counted takes its record line; a row still under way takes its device's record,
// result "incomplete". The shown texts (model, address, status, versions) are the row's own.
// The file is replaced in one step. False when it cannot be written.
bool SaveDeviceListCsv(const std::string& path, const DeviceTable& table,
                       const UpgradeRecord& record);

}  // namespace orvane
