#include "protocol/report_handler.h"

#include "platform/clock.h"
#include "protocol/report_stage.h"
#include "protocol/service_view.h"
#include "support/language.h"
#include "support/log.h"

namespace orvane {

namespace {

// The status text id of a stage's state, 0 for none.
int StateTextId(const ReportStage& stage, ReportState state) {
    switch (state) {
        case ReportState::kDone:
            return stage.iDoneText;
        case ReportState::kBusy:
            return stage.iBusyText;
        case ReportState::kCrcFailed:
            return kTextCrcFailed;
        case ReportState::kMagicFailed:
            return kTextMagicFailed;
        case ReportState::kSizeFailed:
            return kTextSizeFailed;
        case ReportState::kVersionCheckFailed:
            return kTextVersionCheckFailed;
        case ReportState::kFailed:
            return stage.iFailedText;
        case ReportState::kUbootRepair:
            return kTextUbootRepair;
    }
    return 0;
}

}  // namespace

int ReportHandler::GetIPCStateText(int event, int state, std::string& text) {
    // Compared without sign, so negative values are out of range too.
    const ReportStage* stage = FindReportStage(event);
    if (!stage || static_cast<unsigned>(state) > kLastReportState) {
        return -1;
    }
    const ReportState code = static_cast<ReportState>(state);
    const int id = StateTextId(*stage, code);
    if (id != 0) {
        text = LoadText(id);
    }
    // A device that failed needs the operator.
    if ((code >= ReportState::kCrcFailed && code <= ReportState::kVersionCheckFailed) ||
        (code == ReportState::kFailed && stage->iFailedText != 0)) {
        m_view.ShowMainWindow();
    }
    return 0;
}

namespace {

// The status text is looked up once "State:" is read, before the fault of a later line counts:
// a failure report without "Version:" still raises the window before it is dropped. The checks
// are numbered in that order: -2 for the first line, the status text after "State:", ...
constexpr int kStateLine = ReportLineOf(&DeviceReport::szState);
constexpr int kStatusTextDrop = -2 - kStateLine;
constexpr int kReportLines = [] {
    int lines = 0;
    for (const DeviceField& field : kDeviceFields) {
        lines += field.report.iLine != 0 ? 1 : 0;
    }
    return lines;
}();

// Malformed reports are anyone's to send, as many as they like: one line a second per failure
// (indexed by the drop code's value, -1 to -2 - kReportLines).
LogRateLimit g_reportErrorLines[kReportLines + 3];

int DropCodeOf(const FieldError& error) {
    return error.iLine <= kStateLine ? -1 - error.iLine : -2 - error.iLine;
}

int DropReport(const FieldError& error) {
    const int code = DropCodeOf(error);
    WriteLogLimited(g_reportErrorLines[-code], kLogMajor,
                    "ReportMsgProc() read %s error, return %d", error.field->szLogName, code);
    return code;
}

}  // namespace

int ReportHandler::ReportMsgProc(int event, const std::string& text) {
    WriteLog(kLogInfo, "#QMDebug ReportMsgProc() event=%d, pMsg=%s", event, text.c_str());
    // One past the last stage passes here and is refused by the status lookup.
    if (static_cast<unsigned>(event) > kReportStageCount || text.empty()) {
        WriteLogLimited(g_reportErrorLines[1], kLogMajor,
                        "ReportMsgProc() event=%d, event param error, return -1", event);
        return -1;
    }
    DeviceReport report;
    report.iEvent = event;
    const FieldError error = ParseDeviceReport(text, &report);
    if (error && error.iLine <= kStateLine) {
        return DropReport(error);
    }
    IpcInfo info;
    if (GetIPCStateText(event, ProtocolAtoi(report.szState), info.szStatus) != 0) {
        WriteLogLimited(g_reportErrorLines[-kStatusTextDrop], kLogMajor,
                        "ReportMsgProc() GetIPCStateText() error, return %d", kStatusTextDrop);
        return kStatusTextDrop;
    }
    if (error) {
        return DropReport(error);
    }
    info.szIpAddr = report.szIpAddr;
    info.szMac = report.szMac;
    info.szSchedule = report.szSchedule + '%';
    info.szState = report.szState;
    info.szPreVersion = report.szVersion;
    std::string verNum;  // not used by the table
    SplitVersion(info.szPreVersion, info.szModel, verNum);
    info.iEvent = event;
    m_batch.Heard(info.szMac, platform::MonotonicMs());
    m_table.UpdateDeviceTable(info);
    return 0;
}

}  // namespace orvane
