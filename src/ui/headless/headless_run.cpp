#include <cstdio>

#include "app/app_config.h"
#include "platform/signals.h"
#include "protocol/orvane_engine.h"
#include "support/log.h"
#include "ui/headless/headless_view.h"

namespace orvane {

namespace {
constexpr int kListenWaitMs = 5000;
}

int RunHeadless(const HeadlessOptions& options) {
    // Signals are taken by this thread alone; every service thread inherits the mask.
    platform::BlockTerminationSignals();
    InitLog(LogThresholdFor(ReadLogSwitch(ConfigIniPath())), "Upgrade.log");

    HeadlessView view;
    view.SetUpgradeFolder(options.szFolder);
    OrvaneEngine engine(view);
    if (!engine.StartService(options.szIp)) {
        std::fprintf(stderr, "orvane: the service threads could not be started\n");
        return 1;
    }
    if (engine.WaitListening(kListenWaitMs) == 1) {
        std::printf("ready\t%s\n", options.szIp.c_str());
        std::fflush(stdout);
    }
    platform::WaitForTerminationSignal();
    engine.StopService();
    return 0;
}

}  // namespace orvane
