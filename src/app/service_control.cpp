#include "app/service_control.h"

#include <filesystem>

#include "cloud/cloud_query.h"
#include "platform/clock.h"
#include "protocol/ip_allocator.h"
#include "support/log.h"

namespace orvane {

namespace {
constexpr const char* kStartName = "COrvaneDlg::OnBnClickedBtnBeginUpgrade";
constexpr int kNoMacText = 153;  // "Failed to get native MAC!!!"
constexpr size_t kMaxIpText = 63;
// How long Stop waits for the record's last lines to reach the disk.
constexpr int kRecordWaitMs = 5000;
}  // namespace

ServiceControl::ServiceControl(OrvaneEngine& engine, std::string iniPath, AdapterLister lister)
    : m_engine(engine), m_szIniPath(std::move(iniPath)), m_adapterLister(std::move(lister)) {
    m_engine.Devices().AddObserver(&m_record);
}

ServiceControl::~ServiceControl() {
    m_engine.Devices().RemoveObserver(&m_record);
}

StartResult ServiceControl::Start(const StartSettings& settings) {
    StartResult result;
    ServiceConfig config;
    config.szUpgradeFolder = settings.szUpgradeFolder;

    if (!PrepareUpgradeFolder(settings, &result)) {
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

    config.tftp.writeAllowed = settings.bTftpWrite;
    if (!m_engine.StartService(config)) {
        result.szMessage = "the service threads could not be started";
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

// The upgrade folder must exist before the TFTP service and the catalogue use it.
bool ServiceControl::PrepareUpgradeFolder(const StartSettings& settings, StartResult* result) {
    if (settings.szUpgradeFolder.empty()) {
        result->iTextId = 161;
        return false;
    }
    // One level only; a folder that cannot be made leaves an empty catalogue, not a refusal.
    std::error_code ec;
    if (!std::filesystem::exists(settings.szUpgradeFolder, ec)) {
        std::filesystem::create_directory(settings.szUpgradeFolder, ec);
    }
    return true;
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
        result->iTextId = kNoMacText;
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
        result->iTextId = kNoMacText;
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
