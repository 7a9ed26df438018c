#pragma once

#include <string>
#include <utility>

#include "app/app_config.h"
#include "app/batch_files.h"
#include "app/folder_history.h"
#include "protocol/orvane_engine.h"
#include "protocol/service_view.h"
#include "record/upgrade_record.h"
#include "support/adapters.h"

namespace orvane {

// What the operator chose before pressing Start.
struct StartSettings {
    std::string szLocalIP;        // the address box
    std::string szUpgradeFolder;  // the folder box's text (may be typed by hand)
    // The folder box, saved (and trimmed to its limit) at Start; null saves no folders.
    FolderHistory* pFolderBox = nullptr;
    bool bForcedUpgrade = false;                       // "Forcibly upgrade to an earlier version"
    bool bIpCheck = false;                             // "IP occupancy detection"
    bool bShowAllDevices = false;                      // "Display devices with the same version"
    bool bTftpWrite = false;                           // whether the TFTP server takes uploads
    int iTftpMaxTransfers = kDefaultTftpMaxTransfers;  // TFTP transfers at once
    int iTftpMaxWindow = kDefaultTftpMaxWindow;        // largest TFTP windowsize granted
    BatchOptions batch;  // which devices, how many at once, when to halt
};

// Why Start did not start the service.
enum class StartRefusal {
    kNone,       // it started
    kNoFolder,   // no upgrade folder chosen (kTextNoFolder)
    kNoMac,      // no MAC for the chosen address (kTextNoMac)
    kNoThreads,  // the service's threads could not be started (szMessage)
    kBadFolder,  // a system folder, or no folder even after Start's creation (szMessage)
    kBadScope,   // a scope file or upgrade record to retry that cannot be used (szMessage)
    kUntrusted,  // a trust key is set and the folder's signed list fails its check (szMessage)
};

struct StartResult {
    bool bStarted = false;
    StartRefusal eRefusal = StartRefusal::kNone;
    std::string szMessage;  // kNoThreads, kBadFolder, kBadScope, kUntrusted: what to tell
                            // the operator
    // The reachability check ran (Start got past the folder) and what it found; the
    // front-end shows or hides the network-failure note accordingly, also when Start stops
    // later on.
    bool bCloudChecked = false;
    bool bNetConnected = false;
};

// What to tell the operator about a refused Start, in the calling thread's language.
std::string StartRefusalText(const StartResult& result);

// The Start and Stop commands' sequences, shared by the window and the headless front-end:
// the checks and steps before the engine starts, in their order, then the engine itself.
class ServiceControl {
  public:
    // `view` is the engine's view: Start gives it the run's boxes and folder, which the
    // engine's threads read while it runs (the front-ends disable their setting controls
    // then). `iniPath` is the Config.ini that Start saves to; `lister` is where the serving
    // adapter's MAC is looked up (tests pass fabricated ones).
    ServiceControl(OrvaneEngine& engine, CopiedSettingsView& view,
                   std::string iniPath = ConfigIniPath(),
                   AdapterLister lister = platform::ListNetInterfaces);
    ~ServiceControl();
    ServiceControl(const ServiceControl&) = delete;
    ServiceControl& operator=(const ServiceControl&) = delete;

    StartResult Start(const StartSettings& settings);
    // Stops the engine, then records the devices left without an outcome.
    void Stop();

    // The upgrade record both front-ends keep (RecordFilePath of the Config.ini).
    UpgradeRecord& Record() { return m_record; }

  private:
    bool PrepareUpgradeFolder(const StartSettings& settings, StartResult* result);
    bool CheckSignedList(const StartSettings& settings, ServiceConfig* config, StartResult* result);
    void CheckCloud(StartResult* result);
    bool PrepareLocalAddress(const StartSettings& settings, ServiceConfig* config,
                             StartResult* result);
    bool ReadServingMac(ServiceConfig* config, StartResult* result);
    void SaveSettings(const StartSettings& settings);

    OrvaneEngine& m_engine;
    CopiedSettingsView& m_view;
    std::string m_szIniPath;
    AdapterLister m_adapterLister;
    UpgradeRecord m_record;
};

}  // namespace orvane
