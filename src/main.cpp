// The orvane executable: the upgrade service with a terminal front-end (--headless).
#include <CLI/CLI.hpp>
#include <cstdio>
#include <string>

#include "app/app_startup.h"
#include "ui/headless/headless_view.h"

namespace {

// --NAME ticks the box, --no-NAME unticks it; the last one given wins.
void AddBoxFlags(CLI::App& app, const std::string& name, const std::string& box, int* state) {
    app.add_flag_callback(
        "--" + name, [state] { *state = 1; }, "Tick \"" + box + "\"");
    app.add_flag_callback(
        "--no-" + name, [state] { *state = 0; }, "Untick \"" + box + "\"");
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Orvane: upgrades the firmware of network cameras and video recorders"};
    bool headless = false;
    orvane::HeadlessOptions options;
    app.add_flag("--headless", headless, "Run without a window, in the terminal");
    app.add_option("--ip", options.szIp,
                   "Local IPv4 address to serve from (default: the first usable one)");
    app.add_option("--folder", options.szFolder,
                   "Folder of firmware files (the TFTP root), as if chosen with Browse");
    // Each box: ticked, unticked, or (neither given) as Config.ini has it.
    AddBoxFlags(app, "force", "Forcibly upgrade to an earlier version", &options.iForcedUpgrade);
    AddBoxFlags(app, "show-all", "Display devices with the same version", &options.iShowAllDevices);
    AddBoxFlags(app, "ip-check", "IP occupancy detection", &options.iIpCheck);
    app.add_flag_callback(
        "--tftp-write", [&options] { options.iTftpWrite = 1; },
        "Take TFTP uploads (write requests) into the folder");
    app.add_flag_callback(
        "--no-tftp-write", [&options] { options.iTftpWrite = 0; },
        "Refuse every TFTP upload (write request)");
    CLI11_PARSE(app, argc, argv);

    // The language is fixed before any text is shown, whichever front-end runs.
    orvane::InitStartupLanguage();

    if (!headless) {
        std::fprintf(stderr, "orvane: this build has no window yet; run with --headless\n");
        return 2;
    }
    return orvane::RunHeadless(options);
}
