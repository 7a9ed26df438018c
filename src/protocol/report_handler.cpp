// Progress reports: the record a report makes and its status text.
#include "platform/clock.h"
#include "protocol/orvane_engine.h"
#include "protocol/report_stage.h"
#include "protocol/service_view.h"
#include "support/language.h"
#include "support/log.h"

namespace orvane {

namespace {

// Value limits of a report's lines (a value must stay below them).
constexpr int kAddrLimit = 64;
constexpr int kMacLimit = 64;
constexpr int kScheduleLimit = 16;
constexpr int kStateLimit = 16;
constexpr int kVersionLimit = 256;

constexpr int kLastState = 7;

// The status text id of a stage's state, 0 for none. The caller has checked the ranges.
int StateTextId(const ReportStage& stage, int state) {
    switch (state) {
        case 0:
            return stage.iDoneText;
        case 1:
            return stage.iBusyText;
        case 2:
            return kTextCrcFailed;
        case 3:
            return kTextMagicFailed;
        case 4:
            return kTextSizeFailed;
        case 5:
            return kTextVersionCheckFailed;
        case 6:
            return stage.iFailedText;
        default:
            return kTextUbootRepair;
    }
}

}  // namespace

int OrvaneEngine::GetIPCStateText(int event, int state, std::string& text) {
    // Compared without sign, so negative values are out of range too.
    const ReportStage* stage = FindReportStage(event);
    if (!stage || static_cast<unsigned>(state) > kLastState) {
        return -1;
    }
    const int id = StateTextId(*stage, state);
    if (id != 0) {
        text = LoadText(id);
    }
    // A device that failed needs the operator.
    if ((state >= 2 && state <= 5) || (state == 6 && stage->iFailedText != 0)) {
        m_view.ShowMainWindow();
    }
    return 0;
}

namespace {
// Malformed reports are anyone's to send, as many as they like: one line a second per failure.
LogRateLimit g_reportErrorLines[8];
}  // namespace

int OrvaneEngine::ReportMsgProc(int event, const std::string& text) {
    WriteLog(kLogInfo, "#QMDebug ReportMsgProc() event=%d, pMsg=%s", event, text.c_str());
    // One past the last stage passes here and is refused by the status lookup (-6).
    if (static_cast<unsigned>(event) > kReportStageCount || text.empty()) {
        WriteLogLimited(g_reportErrorLines[1], kLogMajor,
                        "ReportMsgProc() event=%d, event param error, return -1", event);
        return -1;
    }
    IpcInfo info;
    if (ReadFlagValue(info.szIpAddr, kAddrLimit, text, "Ipaddr:") != 0) {
        WriteLogLimited(g_reportErrorLines[2], kLogMajor,
                        "ReportMsgProc() read IPC_ADDR error, return -2");
        return -2;
    }
    if (ReadFlagValue(info.szMac, kMacLimit, text, "IPCMac:") != 0) {
        WriteLogLimited(g_reportErrorLines[3], kLogMajor,
                        "ReportMsgProc() read IPC_MAC error, return -3");
        return -3;
    }
    if (ReadFlagValue(info.szSchedule, kScheduleLimit, text, "Schedule:") != 0) {
        WriteLogLimited(g_reportErrorLines[4], kLogMajor,
                        "ReportMsgProc() read IPC_SCHEDULE error, return -4");
        return -4;
    }
    info.szSchedule += '%';
    if (ReadFlagValue(info.szState, kStateLimit, text, "State:") != 0) {
        WriteLogLimited(g_reportErrorLines[5], kLogMajor,
                        "ReportMsgProc() read IPC_STATE error, return -5");
        return -5;
    }
    // Looked up before "Version:" is read: a failure report without it still raises the
    // window before it is dropped.
    if (GetIPCStateText(event, ProtocolAtoi(info.szState), info.szStatus) != 0) {
        WriteLogLimited(g_reportErrorLines[6], kLogMajor,
                        "ReportMsgProc() GetIPCStateText() error, return -6");
        return -6;
    }
    if (ReadFlagValue(info.szPreVersion, kVersionLimit, text, "Version:") != 0) {
        WriteLogLimited(g_reportErrorLines[7], kLogMajor,
                        "ReportMsgProc() read IPC_VERSION error, return -7");
        return -7;
    }
    std::string verNum;  // not used by the table
    SplitVersion(info.szPreVersion, info.szModel, verNum);
    info.iEvent = event;
    m_batch.Heard(info.szMac, platform::MonotonicMs());
    m_deviceTable.UpdateDeviceTable(info);
    return 0;
}

}  // namespace orvane
