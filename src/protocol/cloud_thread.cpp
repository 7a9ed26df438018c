#include "protocol/cloud_thread.h"

#include <cstdio>
#include <exception>
#include <memory>

#include "cloud/cloud_firmware_file.h"
#include "cloud/cloud_query.h"
#include "platform/file.h"
#include "platform/thread.h"
#include "protocol/service_view.h"
#include "support/language.h"
#include "support/log.h"
#include "support/text_ids.h"

namespace orvane {

namespace {
constexpr int kIdlePollMs = 50;
}  // namespace

int CloudThread::CloudFirmwareProc(RunState& run) {
    SetThreadUiLanguage(g_iLanguage == kLanguageChinese ? kLanguageChinese : kLanguageEnglish);
    while (run.IsRunning()) {
        CloudRequest request;
        if (!m_requests.Take(&request)) {
            platform::SleepMs(kIdlePollMs);
            continue;
        }
        // One request that fails in an unforeseen way (no memory) must not end the service of
        // the ones behind it.
        try {
            ServeCloudRequest(request, run);
        } catch (const std::exception& e) {
            WriteLog(kLogMajor, "CloudFirmwareProc szModel=%s failed: %s", request.szModel.c_str(),
                     e.what());
        }
        m_requests.EndInHand();  // on every way out: a failure answers nobody
    }
    return 0;
}

void CloudThread::ShowCloudStatus(const CloudRequest& request, const std::string& status) {
    m_table.UpdateDeviceTable(RecordOfRequest(request, status));
}

namespace {
// Stop gave up the request in hand: no failure of the device's, so its row keeps its last text
// and nothing is raised.
void LogAbandoned(const std::string& model) {
    WriteLog(kLogSuggestive, "CloudFirmwareProc szModel=%s abandoned: the service stops",
             model.c_str());
}
}  // namespace

// With a trust key, a verified download stays only when the last signed list checked names
// its SHA-256 (refusals logged and counted like the catalogue's).
FirmwareCheck CloudThread::VouchedDownloadCheck() {
    if (!m_catalogue.IsTrustOn()) {
        return nullptr;
    }
    return [this](const std::string& path) {
        std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(platform::OpenRegularFileForRead(path),
                                                          &std::fclose);
        const std::string digest = f ? Sha256Hex(f.get()) : std::string();
        const bool listed = m_catalogue.IsListed(digest);
        if (!listed) {
            ++m_counters.firmwareRefused.unlisted;
            WriteLog(kLogMajor, "Cloud firmware (SHA-256 %s) removed: not in the signed list",
                     digest.c_str());
        }
        return listed;
    };
}

void CloudThread::ServeCloudRequest(const CloudRequest& request, RunState& run) {
    const std::string& model = request.szModel;
    if (!m_requests.IsDownloaded(model)) {
        CloudFirmwareInfo info;
        std::string message;
        int result = QueryCloudFirmware(model, CloudQueryType(model), LanguageCode(g_iLanguage),
                                        &info, &message, &run.running);
        if (result != kCloudQueryOk && !run.IsRunning()) {
            LogAbandoned(model);
            return;
        }
        ++(result == kCloudQueryOk ? m_counters.cloudQueriesOk : m_counters.cloudQueriesFailed);
        if (result != kCloudQueryOk) {
            ShowCloudStatus(request, LoadText(kTextCloudQueryFailed) + message);
            m_view.ShowMainWindow();
            WriteLog(kLogMajor, "Failed to query firmware szModel=%s\n", model.c_str());
            return;
        }
        const std::string folder = m_view.GetUpgradeFolder();
        std::string name;
        // Only firmware of the model asked for is kept, and it replaces only firmware of that
        // model: the service's answer names the file, the operator's files stay theirs.
        const FirmwareCheck isWanted = [&model](const std::string& path) {
            std::string found;
            return ReadFirmwareModel(path, &found) && found == model;
        };
        result = FetchCloudFirmware(info, folder, m_cloudDownloadLimits, &run.running, isWanted,
                                    &name, VouchedDownloadCheck());
        if (result != kDownloadOk && !run.IsRunning()) {
            LogAbandoned(model);
            return;
        }
        ++(result == kDownloadOk ? m_counters.cloudDownloadsOk : m_counters.cloudDownloadsFailed);
        if (result == kDownloadUnlisted) {
            ShowCloudStatus(request, g_iLanguage == kLanguageChinese
                                         ? "固件不在签名清单中"
                                         : "Firmware not in the signed list");
            m_view.ShowMainWindow();
            return;
        }
        if (result != kDownloadOk && result != kDownloadMd5Error) {
            WriteLog(kLogMajor, "Failed to query firmware szModel=%s\n %s", model.c_str(),
                     GetCloudErrorText(result).c_str());
        }
        if (result != kDownloadOk) {
            ShowCloudStatus(request,
                            LoadText(kTextCloudDownloadFailed) + GetCloudErrorText(result));
            m_view.ShowMainWindow();
            return;
        }
        ShowCloudStatus(request, LoadText(kTextCloudDownloaded));
        m_requests.MarkDownloaded(model);
        m_catalogue.AddDownloadedFile(folder, name);
    } else {
        ShowCloudStatus(request, LoadText(kTextCloudDownloaded));
    }
    // The device may have asked again meanwhile: it is answered once, to its latest request.
    CloudRequest latest = request;
    m_requests.EndInHand(&latest);
    // After the catalogue lock is released: the lookup takes it again.
    m_handler.assignIPAndFirmware(latest, latest.iSequence, false);
}

}  // namespace orvane
