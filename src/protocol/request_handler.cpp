// Address requests: the catalogue lookup, the cloud path and the replies.
#include "platform/clock.h"
#include "protocol/orvane_engine.h"
#include "protocol/service_view.h"
#include "support/language.h"
#include "support/log.h"
#include "support/text_ids.h"

namespace orvane {

namespace {

constexpr const char* kRequestName = "COrvaneDlg::RequestIpaddrProc";
constexpr const char* kAssignName = "COrvaneDlg::assignIPAndFirmware";

// Lines that any host can repeat at will by sending requests: one a second per kind.
LogRateLimit g_malformedRequestLines;
LogRateLimit g_cloudQueueFullLines;
LogRateLimit g_tableFullLines;

// A device turned away because the table holds as many answered devices as it may.
void LogTableFull(int sequence, int maxRows, const std::string& mac) {
    WriteLogLimited(g_tableFullLines, kLogMajor,
                    "*%d* %s %d devices answered since the list was cleared, %s dropped", sequence,
                    kAssignName, maxRows, mac.c_str());
}

}  // namespace

void OrvaneEngine::RequestIpaddrProc(const std::string& text, int sequence) {
    if (text.empty()) {
        WriteLogLimited(g_malformedRequestLines, kLogSuggestive, "*%d* %s pMsgType == NULL, return",
                        sequence, kRequestName);
        return;
    }
    DeviceRequest request;
    if (const FieldError error = ParseDeviceRequest(text, &request)) {
        WriteLogLimited(g_malformedRequestLines, kLogSuggestive,
                        "*%d* %s ReadFlagValue(%s) error, iRet=%d", sequence, kRequestName,
                        error.field->szLogName, error.iRet);
        return;
    }
    WriteLog(kLogInfo, "*%d* %s Before find bHaveNewVersion! szVersion=%s, szModel=%s, szVerNum=%s",
             sequence, kRequestName, request.szVersion.c_str(), request.szModel.c_str(),
             request.szVerNum.c_str());
    assignIPAndFirmware(request, sequence, true);
}

int OrvaneEngine::FindNewVersion(const std::string& model, const std::string& verNum,
                                 UpgradeFileInfo* out) {
    // Read before the catalogue lock is taken: the front-end is never asked under it.
    const bool forced = m_view.IsForcedUpgrade();
    std::lock_guard<std::mutex> lock(m_csUpgradeFileInfo);
    bool known = false;
    int compared = 0;  // the last comparison made
    for (size_t i = 0; i < m_vecUpgradeFileInfo.size(); ++i) {
        const UpgradeFileInfo& file = m_vecUpgradeFileInfo[i];
        if (model != file.szModel) {
            continue;
        }
        known = true;
        if (file.iHighestVersion != 1) {
            WriteLog(kLogInfo,
                     "have same Model=%s, but m_vecUpgradeFileInfo[%d].iHighestVersion=%d",
                     model.c_str(), static_cast<int>(i), file.iHighestVersion);
            continue;
        }
        compared = file.szVerNum[0] == '\0' ? -2 : CompareVersion(file.szVerNum, verNum.c_str());
        if (forced || compared == 1) {
            *out = file;
            return 0;
        }
        WriteLog(kLogInfo, "have same Model=%s, but CheckState=%d, szVerNum=%s, szVerNum=%s",
                 model.c_str(), forced ? 1 : 0, file.szVerNum, verNum.c_str());
    }
    if (!known) {
        return 1;
    }
    return compared == 0 ? 2 : 3;
}

bool OrvaneEngine::assignIPAndFirmware(const DeviceRequest& request, int sequence,
                                       bool cloudAllowed) {
    const std::string& mac = request.szMac;
    UpgradeFileInfo chosen;
    const int found = FindNewVersion(request.szModel, request.szVerNum, &chosen);
    // What the run takes is decided here, once, before a cloud download is asked for or an
    // address allocated: a device not taken (yet) holds neither, nor a transfer.
    const BatchGate::Verdict verdict =
        m_batch.Decide(mac, request.szModel, found == 0, platform::MonotonicMs());
    if (verdict == BatchGate::Verdict::kOutOfScope) {
        ++m_counters.requestsOutOfScope;
        WriteLog(kLogInfo, "*%d* %s %s is not in this upgrade", sequence, kAssignName, mac.c_str());
        AnswerNoUpgrade(request, kTextNotInUpgrade);
        return true;
    }
    if (verdict != BatchGate::Verdict::kGo) {
        WriteLog(kLogInfo, "*%d* %s %s waits for its turn%s", sequence, kAssignName, mac.c_str(),
                 verdict == BatchGate::Verdict::kHalted ? " (halted)" : "");
        ShowWaitingRow(request);
        return false;
    }
    if (cloudAllowed && found == 1 && IsNetConnected()) {
        ParkCloudRequest(request, sequence);
        return false;
    }
    // A parked device asking again once its firmware is here: answered here or by the cloud
    // thread, never by both.
    if (cloudAllowed && !m_cloudRequests.Claim(mac, sequence, request.iCseq)) {
        WriteLog(kLogInfo, "*%d* %s %s is answered by the cloud thread", sequence, kAssignName,
                 mac.c_str());
        return false;
    }
    if (found != 0) {
        WriteLog(kLogSuggestive, "*%d* %s bHaveNewVersion == false, No New Version!", sequence,
                 kAssignName);
        AnswerNoUpgrade(request, found == 2 ? kTextLatestVersion : kTextLowerVersion);
        return true;
    }

    if (m_szLocalIP.empty()) {
        WriteLog(kLogSuggestive, "*%d* %s m_szLocalIP Is Empty", sequence, kAssignName);
        m_batch.Withdraw(mac);
        return false;
    }
    // Answered devices keep their records until they end: their number is what bounds the
    // table, so a device beyond it is not answered (it asks again).
    if (!m_deviceTable.AdmitDevice(mac)) {
        LogTableFull(sequence, m_deviceTable.MaxRows(), mac);
        m_batch.Withdraw(mac);
        return false;
    }
    WriteLog(kLogInfo, "*%d* %s Begin GetNotUseIp", sequence, kAssignName);
    char szNewIp[kAllocIpSize] = {};
    if (GetNotUseIp(szNewIp, m_szLocalIP.c_str(), sequence) != 0) {
        WriteLog(kLogSuggestive, "*%d* %s GetNotUseIp error, return", sequence, kAssignName);
        m_batch.Withdraw(mac);
        return false;
    }
    WriteLog(kLogInfo, "*%d* %s GetNotUseIp success, szNewIp=%s", sequence, kAssignName, szNewIp);
    // No row yet: the device's first report shows it. Recorded before the reply leaves: a
    // worker held up after its send would otherwise let the device's reports find no record,
    // and its outcome would be counted without the version sent (and a recorder at the file
    // system stage).
    IpcInfo info = RecordOfRequest(request);
    info.szIpAddr = szNewIp;
    info.szUpgradedVersion = chosen.szVersion;
    info.iDeviceKind = chosen.iNvrFirmware;
    m_deviceTable.RecordAssignment(info);
    const std::string reply =
        BuildAssignReply(AssignReply{request.iCseq, m_szLocalMac, m_szLocalIP, szNewIp, mac,
                                     chosen.szVersion, chosen.szFileName});
    SendToIPC(reply.c_str(), reply.size());
    WriteLog(kLogSuggestive, "*%d* %s SendToIPC szBuildMsg=%s\n", sequence, kAssignName,
             reply.c_str());
    return true;
}

// No file of the model here: the cloud thread fetches one and answers the device then. The
// device's row says so meanwhile.
void OrvaneEngine::ParkCloudRequest(const DeviceRequest& request, int sequence) {
    const std::string& mac = request.szMac;
    const auto parked = m_cloudRequests.Park(CloudRequest{request, sequence});
    if (parked == CloudRequestQueue::ParkResult::kFull) {
        WriteLogLimited(g_cloudQueueFullLines, kLogMajor,
                        "*%d* %s %zu cloud requests waiting, request of %s dropped", sequence,
                        kAssignName, kMaxCloudRequests, mac.c_str());
        return;
    }
    if (parked == CloudRequestQueue::ParkResult::kUpdated) {
        return;  // it waits already, with its row
    }
    if (m_deviceTable.AddCloudDevice(RecordOfRequest(request, LoadText(kTextCloudDownloading))) ==
        DeviceTable::kRefused) {
        m_cloudRequests.Claim(mac, sequence, request.iCseq);  // withdrawn: it will not be answered
        LogTableFull(sequence, m_deviceTable.MaxRows(), mac);
    }
}

// Nothing for this device (now): told so, it boots on as it is; its row says why when every
// device is shown.
void OrvaneEngine::AnswerNoUpgrade(const DeviceRequest& request, int statusText) {
    const std::string reply = BuildNoNewVersionReply(request.iCseq, request.szMac);
    SendToIPC(reply.c_str(), reply.size());
    if (m_view.IsShowAllDevices()) {
        IpcInfo info = RecordOfRequest(request, LoadText(statusText));
        info.bAnswered = true;
        info.bNoUpgrade = true;
        m_deviceTable.UpdateDeviceTable(info);
    }
}

// A waiting device keeps one row, which says so; it is neither answered nor counted.
void OrvaneEngine::ShowWaitingRow(const DeviceRequest& request) {
    if (m_deviceTable.ShowWaitingDevice(RecordOfRequest(request, LoadText(kTextWaitingTurn))) ==
        DeviceTable::kRefused) {
        LogTableFull(0, m_deviceTable.MaxRows(), request.szMac);
    }
}

std::string OrvaneEngine::BatchNote() const {
    return BatchNoteText(m_batch.Settings(), m_batch.Status(), g_iLanguage == kLanguageChinese);
}

void OrvaneEngine::RetireStalledDevices() {
    for (const std::string& mac : m_batch.TakeStalled(platform::MonotonicMs())) {
        WriteLog(kLogMajor, "%s sent nothing for %d minutes: its place is given up", mac.c_str(),
                 m_batch.Settings().iStallMinutes);
        m_deviceTable.RetireStalled(mac);
    }
}

}  // namespace orvane
