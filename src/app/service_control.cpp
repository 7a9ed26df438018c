#include "app/service_control.h"

#include "app/app_startup.h"
#include "app/upgrade_folder_check.h"
#include "cloud/cloud_query.h"
#include "platform/clock.h"
#include "protocol/ip_allocator.h"
#include "support/language.h"
#include "support/log.h"
#include "support/text_ids.h"

namespace orvane {

namespace {
constexpr const char* kStartName = "COrvaneDlg::OnBnClickedBtnBeginUpgrade";
constexpr size_t kMaxIpText = 63;
// How long Stop waits for the record's last lines to reach the disk.
constexpr int kRecordWaitMs = 5000;
}  // namespace

std::string StartRefusalText(const StartResult& result) {
    switch (result.eRefusal) {
        case StartRefusal::kNone:
            return std::string();
        case StartRefusal::kNoFolder:
            return LoadText(kTextNoFolder);
        case StartRefusal::kNoMac:
            return LoadText(kTextNoMac);
        case StartRefusal::kNoThreads:
        case StartRefusal::kBadFolder:
        case StartRefusal::kBadScope:
        case StartRefusal::kUntrusted:
            break;
    }
    return result.szMessage;
}

ServiceControl::ServiceControl(OrvaneEngine& engine, CopiedSettingsView& view, std::string iniPath,
                               AdapterLister lister)
    : m_engine(engine),
      m_view(view),
      m_szIniPath(std::move(iniPath)),
      m_adapterLister(std::move(lister)) {
    m_engine.Devices().AddObserver(&m_record);
}

ServiceControl::~ServiceControl() {
    m_engine.Devices().RemoveObserver(&m_record);
}

StartResult ServiceControl::Start(const StartSettings& settings) {
    StartResult result;
    ServiceConfig config;
    config.szUpgradeFolder = settings.szUpgradeFolder;

    if (!PrepareUpgradeFolder(settings, &result) || !CheckSignedList(settings, &config, &result)) {
        return result;
    }
    // Read before anything changes: a scope that cannot be read refuses the run, and is never
    // taken for every device.
    BatchSettings batch;
    if (!LoadBatchSettings(settings.batch, &batch, &result.szMessage)) {
        WriteLog(kLogMajor, "%s %s", kStartName, result.szMessage.c_str());
        result.eRefusal = StartRefusal::kBadScope;
        return result;
    }

    CheckCloud(&result);

    if (!PrepareLocalAddress(settings, &config, &result)) {
        return result;
    }

    if (!ReadServingMac(&config, &result)) {
        return result;
    }

    // The last run's rows and records go once Start is sure to go ahead; its counts only
    // after the settings are saved (the engine resets the request sequence with them).
    m_engine.Devices().ClearDeviceList();

    SaveSettings(settings);

    m_engine.Devices().ResetCounters();
    m_record.BeginRun(RecordFilePath(m_szIniPath), platform::WallClockSeconds());

    // The run's settings, as the engine's threads will read them.
    m_view.SetForcedUpgrade(settings.bForcedUpgrade);
    m_view.SetShowAllDevices(settings.bShowAllDevices);
    m_view.SetIpCheck(settings.bIpCheck);
    m_view.SetUpgradeFolder(settings.szUpgradeFolder);
    config.tftp.writeAllowed = settings.bTftpWrite;
    config.tftp.maxTransfers = static_cast<size_t>(settings.iTftpMaxTransfers);
    config.tftp.maxWindow = static_cast<uint32_t>(settings.iTftpMaxWindow);
    config.tftp.protectedPaths = OwnFilePaths(m_szIniPath);
    m_engine.SetBatchSettings(batch);
    if (!m_engine.StartService(config)) {
        result.eRefusal = StartRefusal::kNoThreads;
        result.szMessage = LoadText(kTextNoThreads);
        return result;
    }
    result.bStarted = true;
    return result;
}

void ServiceControl::Stop() {
    const bool wasRunning = m_engine.IsRunning();
    m_engine.StopService();
    if (wasRunning) {
        m_record.EndRun(m_engine.Devices().Records(), kRecordWaitMs);
    }
}

// The upgrade folder must exist before the TFTP service and the catalogue use it, and must be
// one that may be given to every host of the LAN.
bool ServiceControl::PrepareUpgradeFolder(const StartSettings& settings, StartResult* result) {
    if (settings.szUpgradeFolder.empty()) {
        result->eRefusal = StartRefusal::kNoFolder;
        return false;
    }
    const FolderRefusal refusal = orvane::PrepareUpgradeFolder(settings.szUpgradeFolder);
    if (refusal != FolderRefusal::kNone) {
        WriteLog(kLogMajor, "%s upgrade folder %s refused (%s)", kStartName,
                 settings.szUpgradeFolder.c_str(),
                 refusal == FolderRefusal::kSystemFolder ? "a system folder" : "not a folder");
        result->eRefusal = StartRefusal::kBadFolder;
        result->szMessage = FolderRefusalText(refusal, settings.szUpgradeFolder);
        return false;
    }
    return true;
}

// With a trust key, the folder's signed list must pass its check before anything is served;
// the engine checks it again at every rebuild of the catalogue.
bool ServiceControl::CheckSignedList(const StartSettings& settings, ServiceConfig* config,
                                     StartResult* result) {
    config->szTrustKey = TrustKeyPath(m_szIniPath);
    if (config->szTrustKey.empty()) {
        return true;
    }
    SignedList list;
    std::string error;
    if (list.Load(config->szTrustKey, settings.szUpgradeFolder, &error)) {
        return true;
    }
    m_engine.NoteSignedListRefused();
    WriteLog(kLogMajor, "%s signed list refused: %s", kStartName, error.c_str());
    result->eRefusal = StartRefusal::kUntrusted;
    result->szMessage = (g_iLanguage == kLanguageChinese ? "签名清单未通过校验，无法开始："
                                                         : "The signed list failed its check, "
                                                           "so the upgrade does not start: ") +
                        error;
    return false;
}

// Whether the cloud update service can be asked for firmware this run.
void ServiceControl::CheckCloud(StartResult* result) {
    const bool reachable = IsCloudReachable();
    m_engine.SetNetConnected(reachable);
    result->bCloudChecked = true;
    result->bNetConnected = reachable;
}

// The serving address and the allocation cursor, host 10 of the address's /24.
bool ServiceControl::PrepareLocalAddress(const StartSettings& settings, ServiceConfig* config,
                                         StartResult* result) {
    config->szLocalIP = settings.szLocalIP.substr(0, kMaxIpText);
    std::string cursor = MakeAllocationCursor(config->szLocalIP);
    if (cursor.empty()) {
        // A text without "." has no subnet to walk, and no adapter carries it, so the MAC
        // lookup would refuse it anyway: refuse it the same way before forming a cursor.
        WriteLog(kLogSuggestive, "%s GetMacAddress error, return", kStartName);
        result->eRefusal = StartRefusal::kNoMac;
        return false;
    }
    m_engine.SetNextIP(cursor);
    return true;
}

// The serving adapter's MAC, which devices are told as "ServerMac:".
bool ServiceControl::ReadServingMac(ServiceConfig* config, StartResult* result) {
    std::string mac = ReadServingMacText(config->szLocalIP, m_adapterLister);
    if (mac.empty()) {
        WriteLog(kLogSuggestive, "%s GetMacAddress error, return", kStartName);
        result->eRefusal = StartRefusal::kNoMac;
        return false;
    }
    config->szLocalMac = mac;
    return true;
}

// Settings are saved at every Start, never at exit. Only the folder box's entries are saved:
// a folder typed by hand serves this run alone.
void ServiceControl::SaveSettings(const StartSettings& settings) {
    SaveStartSettings(m_szIniPath, settings.pFolderBox, settings.bForcedUpgrade, settings.bIpCheck,
                      settings.bShowAllDevices);
}

}  // namespace orvane
