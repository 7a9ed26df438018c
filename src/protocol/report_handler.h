#pragma once

#include <string>

#include "protocol/batch_gate.h"
#include "protocol/device_table.h"

namespace orvane {

class ServiceView;

// Progress reports: the record a report makes in the table, and its status text. Runs on the
// dispatcher thread, one report at a time.
class ReportHandler {
  public:
    ReportHandler(ServiceView& view, DeviceTable& table, BatchGate& batch)
        : m_view(view), m_table(table), m_batch(batch) {}
    ReportHandler(const ReportHandler&) = delete;
    ReportHandler& operator=(const ReportHandler&) = delete;

    // Handles one report: 0, or -1 to -7 for a report dropped.
    int ReportMsgProc(int event, const std::string& text);
    // The status text of a report event (kReportStages) and state code 0..7 in the calling
    // thread's language (left as it was where the stage has none); raises the window for a
    // failure. -1 for an event or state out of range.
    int GetIPCStateText(int event, int state, std::string& text);

  private:
    ServiceView& m_view;
    DeviceTable& m_table;
    BatchGate& m_batch;  // hears of every device that reports
};

}  // namespace orvane
