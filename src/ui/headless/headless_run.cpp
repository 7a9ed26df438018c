#include <cstdio>
#include <filesystem>
#include <memory>

#include "app/app_startup.h"
#include "app/product_version.h"
#include "app/service_control.h"
#include "firmware/fmw_trace.h"
#include "platform/file.h"
#include "platform/service_notify.h"
#include "platform/signals.h"
#include "platform/terminal.h"
#include "protocol/orvane_engine.h"
#include "support/adapters.h"
#include "support/language.h"
#include "support/text_ids.h"
#include "ui/headless/headless_view.h"
#include "web/web_view.h"

namespace orvane {

namespace {
constexpr int kListenWaitMs = 5000;
// How long the last lines may wait for a slow reader of standard output at the end.
constexpr int kDrainMs = 2000;

// The address box's default: the first entry of the local address list, empty if none.
std::string FirstLocalIp() {
    char list[kMaxLocalIps][kIpTextSize] = {};
    return GetLocalIpList(list) > 0 ? list[0] : "";
}

bool BoxState(int option, bool fromConfig) {
    return option < 0 ? fromConfig : option != 0;
}

// A picker hands back a full path; so does --folder, whatever the current folder was.
std::string ChosenFolder(const std::string& given) {
    std::error_code ec;
    std::string path = platform::FsString(
        std::filesystem::absolute(platform::FsPath(given), ec).lexically_normal());
    if (ec) {
        return given;
    }
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return path;
}
}  // namespace

int RunHeadless(const HeadlessOptions& options) {
    WindowSettings settings;
    if (!RunStartup(StartupSteps(), &settings)) {
        std::fprintf(stderr, "%s\n", LoadText(kTextAlreadyRunning));
        return 1;
    }
    // Standard output carries this mode's own lines; the package reader's trace goes beside
    // the error texts instead.
    SetFmwTraceOutput(stderr);
    if (!options.szFolder.empty()) {
        settings.folders.Browse(ChosenFolder(options.szFolder));
    }

    // Standard output carries this mode's own lines only, written by the view's printer.
    platform::IgnoreBrokenPipe();
    HeadlessView view(platform::kStdoutFd, platform::IsTerminal(platform::kStdoutFd)
                                               ? HeadlessTable::Mode::kTerminal
                                               : HeadlessTable::Mode::kLines);
    StartSettings start;
    start.szLocalIP = options.szIp.empty() ? FirstLocalIp() : options.szIp;
    if (start.szLocalIP.empty()) {
        std::fprintf(stderr,
                     "orvane: this machine has no usable local IPv4 address; pass --ip ADDR\n");
        return 1;
    }
    start.szUpgradeFolder = settings.folders.Text();
    start.pFolderBox = &settings.folders;
    start.bForcedUpgrade = BoxState(options.iForcedUpgrade, settings.bForcedUpgrade);
    start.bShowAllDevices = BoxState(options.iShowAllDevices, settings.bShowAllDevices);
    start.bIpCheck = BoxState(options.iIpCheck, settings.bIpCheck);
    start.bTftpWrite = BoxState(options.iTftpWrite, settings.bTftpWrite);
    start.iTftpMaxTransfers =
        options.iTftpMaxTransfers > 0 ? options.iTftpMaxTransfers : settings.iTftpMaxTransfers;
    start.iTftpMaxWindow =
        options.iTftpMaxWindow > 0 ? options.iTftpMaxWindow : settings.iTftpMaxWindow;
    start.batch = ReadBatchOptions(ConfigIniPath());
    if (!options.szScopeFile.empty()) {
        start.batch.szScopeFile = options.szScopeFile;
    }
    if (!options.szRetryFile.empty()) {
        start.batch.szRetryFile = options.szRetryFile;
    }
    start.batch.iMaxAtOnce = options.iMaxAtOnce >= 0 ? options.iMaxAtOnce : start.batch.iMaxAtOnce;
    start.batch.iFirstGroup =
        options.iFirstGroup >= 0 ? options.iFirstGroup : start.batch.iFirstGroup;
    start.batch.iHaltAfter = options.iHaltAfter >= 0 ? options.iHaltAfter : start.batch.iHaltAfter;
    // From here signals are taken by a watching thread; every service thread inherits the
    // mask. Until the service runs they still end the process at once (Start may wait seconds
    // for the update service); then they bring an orderly Stop.
    platform::WatchTerminationSignals();
    OrvaneEngine engine(view);
    ServiceControl control(engine, view);
    // The web view's port is taken before the service starts, so a port in use ends the
    // program before any device is answered.
    std::unique_ptr<WebView> web;
    if (!options.szHttp.empty()) {
        web = std::make_unique<WebView>(engine, control.Record(), GetProductVersionText());
        web->SetServedHosts(options.vecHttpHosts);
        std::string error;
        if (!web->Bind(options.szHttp, &error)) {
            std::fprintf(stderr, "orvane: --http: %s\n", error.c_str());
            return 1;
        }
    }

    StartResult started = control.Start(start);
    if (started.bCloudChecked && !started.bNetConnected) {
        std::fprintf(stderr, "%s\n", NetworkFailureNote());
        std::fflush(stderr);
    }
    if (!started.bStarted) {
        std::fprintf(stderr, "%s\n", StartRefusalText(started).c_str());
        return 1;
    }
    platform::HandOverTerminationSignals();
    std::string ready;
    if (engine.WaitListening(kListenWaitMs) == 1) {
        ready = "ready\t" + engine.LocalIP() + "\t" + engine.LocalMac();
    }
    view.Table().Start(ready);
    const std::string note = engine.BatchNote();
    if (!note.empty()) {
        view.Table().PostNote(note);
    }
    if (web) {
        web->Start();
    }
    if (!ready.empty()) {
        platform::NotifyServiceManager("READY=1");
    }
    platform::WaitForTerminationSignal();
    platform::NotifyServiceManager("STOPPING=1");
    control.Stop();
    if (web) {
        web->Stop();
    }
    view.Table().Stop(kDrainMs);
    return 0;
}

}  // namespace orvane
