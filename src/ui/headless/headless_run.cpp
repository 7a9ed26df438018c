#include <cstdio>

#include "app/app_config.h"
#include "app/service_control.h"
#include "firmware/fmw_trace.h"
#include "platform/signals.h"
#include "protocol/orvane_engine.h"
#include "support/adapters.h"
#include "support/language.h"
#include "support/log.h"
#include "ui/headless/headless_view.h"

namespace orvane {

namespace {
constexpr int kListenWaitMs = 5000;

// The address box's default: the first entry of the local address list, empty if none.
std::string FirstLocalIp() {
    char list[kMaxLocalIps][kIpTextSize] = {};
    return GetLocalIpList(list) > 0 ? list[0] : "";
}
}  // namespace

int RunHeadless(const HeadlessOptions& options) {
    // Signals are taken by this thread alone; every service thread inherits the mask.
    platform::BlockTerminationSignals();
    InitLog(LogThresholdFor(ReadLogSwitch(ConfigIniPath())), "Upgrade.log");
    // Standard output carries this mode's own lines; the package reader's trace goes beside
    // the error texts instead.
    SetFmwTraceOutput(stderr);

    std::string ip = options.szIp.empty() ? FirstLocalIp() : options.szIp;
    if (ip.empty()) {
        std::fprintf(stderr,
                     "orvane: this machine has no usable local IPv4 address; pass --ip ADDR\n");
        return 1;
    }

    HeadlessView view;
    view.SetUpgradeFolder(options.szFolder);
    view.SetIpCheck(options.bIpCheck);
    OrvaneEngine engine(view);
    ServiceControl control(engine);

    StartResult started = control.Start(StartSettings{ip, options.szFolder});
    if (!started.bStarted) {
        std::fprintf(stderr, "%s\n",
                     started.iTextId ? LoadText(started.iTextId) : started.szMessage.c_str());
        return 1;
    }
    if (engine.WaitListening(kListenWaitMs) == 1) {
        std::printf("ready\t%s\t%s\n", engine.LocalIP().c_str(), engine.LocalMac().c_str());
        std::fflush(stdout);
    }
    platform::WaitForTerminationSignal();
    control.Stop();
    return 0;
}

}  // namespace orvane
