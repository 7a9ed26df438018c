#include "record/device_list_csv.h"

#include "platform/clock.h"
#include "platform/file.h"
#include "protocol/device_table.h"
#include "record/upgrade_record.h"

namespace orvane {

bool SaveDeviceListCsv(const std::string& path, const DeviceTable& table,
                       const UpgradeRecord& record) {
    const std::vector<DeviceRow> rows = table.Rows();
    const std::vector<IpcInfo> records = table.Records();
    const std::map<int, RecordLine> outcomes = record.RowLines();
    std::string text = std::string(kRecordHeader) + "\r\n";
    for (size_t i = 0; i < rows.size(); ++i) {
        const int row = static_cast<int>(i);
        RecordLine line;
        auto counted = outcomes.find(row);
        if (counted != outcomes.end()) {
            line = counted->second;
        } else {
            for (const IpcInfo& r : records) {
                if (r.nIndex == row && !r.bCounted) {
                    line = DescribeRecord(r, false);
                }
            }
            line.szResult = "incomplete";
        }
        const DeviceRow& shown = rows[i];
        line.szModel = shown[1];
        line.szIp = shown[2];
        line.szStatus = shown[3];
        line.szVersionBefore = shown[5];
        line.szVersionAfter = shown[6];
        text += CsvLine(line);
    }
    platform::ReplacementFile file;
    return file.Open(path) && file.Write(text.data(), text.size()) && file.Commit();
}

}  // namespace orvane
