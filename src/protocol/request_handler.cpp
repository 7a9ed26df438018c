// Address requests: the catalogue lookup, the cloud path and the replies.
#include "protocol/request_handler.h"
#include "platform/clock.h"

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

void RequestHandler::RequestIpaddrProc(const std::string& text, int sequence) {
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

int RequestHandler::FindNewVersion(const std::string& model, const std::string& verNum,
                                   UpgradeFileInfo* out) {
    // Read before the catalogue lock is taken: the front-end is never asked under it.
    const bool forced = m_parts.view.IsForcedUpgrade();
    int result = 1;
    m_parts.catalogue.With([&](const std::vector<UpgradeFileInfo>& files) {
        bool known = false;
        int compared = 0;  // the last comparison made
        for (size_t i = 0; i < files.size(); ++i) {
            const UpgradeFileInfo& file = files[i];
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
            compared =
                file.szVerNum[0] == '\0' ? -2 : CompareVersion(file.szVerNum, verNum.c_str());
            if (forced || compared == 1) {
                *out = file;
                result = 0;
                return;
            }
            WriteLog(kLogInfo, "have same Model=%s, but CheckState=%d, szVerNum=%s, szVerNum=%s",
                     model.c_str(), forced ? 1 : 0, file.szVerNum, verNum.c_str());
        }
        result = !known ? 1 : compared == 0 ? 2 : 3;
    });
    return result;
}

bool RequestHandler::assignIPAndFirmware(const DeviceRequest& request, int sequence,
                                         bool cloudAllowed) {
    const std::string& mac = request.szMac;
    UpgradeFileInfo chosen;
    const int found = FindNewVersion(request.szModel, request.szVerNum, &chosen);
    // What the run takes is decided here, once, before a cloud download is asked for or an
    // address allocated: a device not taken (yet) holds neither, nor a transfer.
    const BatchGate::Verdict verdict =
        m_parts.batch.Decide(mac, request.szModel, found == 0, platform::MonotonicMs());
    if (verdict == BatchGate::Verdict::kOutOfScope) {
        ++m_parts.counters.requestsOutOfScope;
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
    if (cloudAllowed && found == 1 && m_parts.netConnected.load() != 0) {
        ParkCloudRequest(request, sequence);
        return false;
    }
    // A parked device asking again once its firmware is here: answered here or by the cloud
    // thread, never by both.
    if (cloudAllowed && !m_parts.cloud.Claim(mac, sequence, request.iCseq)) {
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

    if (m_parts.localIP.empty()) {
        WriteLog(kLogSuggestive, "*%d* %s m_parts.localIP Is Empty", sequence, kAssignName);
        m_parts.batch.Withdraw(mac);
        return false;
    }
    // Answered devices keep their records until they end: their number is what bounds the
    // table, so a device beyond it is not answered (it asks again).
    if (!m_parts.table.AdmitDevice(mac)) {
        LogTableFull(sequence, m_parts.table.MaxRows(), mac);
        m_parts.batch.Withdraw(mac);
        return false;
    }
    WriteLog(kLogInfo, "*%d* %s Begin GetNotUseIp", sequence, kAssignName);
    char szNewIp[kAllocIpSize] = {};
    if (m_parts.allocator.GetNotUseIp(szNewIp, m_parts.localIP.c_str(), sequence) != 0) {
        WriteLog(kLogSuggestive, "*%d* %s GetNotUseIp error, return", sequence, kAssignName);
        m_parts.batch.Withdraw(mac);
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
    m_parts.table.RecordAssignment(info);
    const std::string reply =
        BuildAssignReply(AssignReply{request.iCseq, m_parts.localMac, m_parts.localIP, szNewIp, mac,
                                     chosen.szVersion, chosen.szFileName});
    m_parts.sender.SendToIPC(reply);
    WriteLog(kLogSuggestive, "*%d* %s SendToIPC szBuildMsg=%s\n", sequence, kAssignName,
             reply.c_str());
    return true;
}

// No file of the model here: the cloud thread fetches one and answers the device then. The
// device's row says so meanwhile.
void RequestHandler::ParkCloudRequest(const DeviceRequest& request, int sequence) {
    const std::string& mac = request.szMac;
    const auto parked = m_parts.cloud.Park(CloudRequest{request, sequence});
    if (parked == CloudRequestQueue::ParkResult::kFull) {
        WriteLogLimited(g_cloudQueueFullLines, kLogMajor,
                        "*%d* %s %zu cloud requests waiting, request of %s dropped", sequence,
                        kAssignName, kMaxCloudRequests, mac.c_str());
        return;
    }
    if (parked == CloudRequestQueue::ParkResult::kUpdated) {
        return;  // it waits already, with its row
    }
    if (m_parts.table.AddCloudDevice(RecordOfRequest(request, LoadText(kTextCloudDownloading))) ==
        DeviceTable::kRefused) {
        m_parts.cloud.Claim(mac, sequence, request.iCseq);  // withdrawn: it will not be answered
        LogTableFull(sequence, m_parts.table.MaxRows(), mac);
    }
}

// Nothing for this device (now): told so, it boots on as it is; its row says why when every
// device is shown.
void RequestHandler::AnswerNoUpgrade(const DeviceRequest& request, int statusText) {
    const std::string reply = BuildNoNewVersionReply(request.iCseq, request.szMac);
    m_parts.sender.SendToIPC(reply);
    if (m_parts.view.IsShowAllDevices()) {
        IpcInfo info = RecordOfRequest(request, LoadText(statusText));
        info.bAnswered = true;
        info.bNoUpgrade = true;
        m_parts.table.UpdateDeviceTable(info);
    }
}

// A waiting device keeps one row, which says so; it is neither answered nor counted.
void RequestHandler::ShowWaitingRow(const DeviceRequest& request) {
    if (m_parts.table.ShowWaitingDevice(RecordOfRequest(request, LoadText(kTextWaitingTurn))) ==
        DeviceTable::kRefused) {
        LogTableFull(0, m_parts.table.MaxRows(), request.szMac);
    }
}

}  // namespace orvane
