// The orvane executable: the upgrade service with a terminal front-end (--headless).
#include <CLI/CLI.hpp>
#include <cstdio>

#include "app/app_startup.h"
#include "ui/headless/headless_view.h"

int main(int argc, char** argv) {
    CLI::App app{"Orvane: upgrades the firmware of network cameras and video recorders"};
    bool headless = false;
    orvane::HeadlessOptions options;
    app.add_flag("--headless", headless, "Run without a window, in the terminal");
    app.add_option("--ip", options.szIp, "Local IPv4 address to serve from");
    app.add_option("--folder", options.szFolder,
                   "Folder of firmware files (the TFTP root), as if chosen with Browse");
    app.add_flag("--force{1},--no-force{0}", options.iForcedUpgrade,
                 "Tick or untick \"Forcibly upgrade to an earlier version\"");
    app.add_flag("--show-all{1},--no-show-all{0}", options.iShowAllDevices,
                 "Tick or untick \"Display devices with the same version\"");
    app.add_flag("--ip-check{1},--no-ip-check{0}", options.iIpCheck,
                 "Tick or untick \"IP occupancy detection\"");
    CLI11_PARSE(app, argc, argv);

    // The language is fixed before any text is shown, whichever front-end runs.
    orvane::InitStartupLanguage();

    if (!headless) {
        std::fprintf(stderr, "orvane: this build has no window yet; run with --headless\n");
        return 2;
    }
    if (options.szIp.empty()) {
        std::fprintf(stderr, "orvane: --ip ADDR is required\n");
        return 2;
    }
    return orvane::RunHeadless(options);
}
