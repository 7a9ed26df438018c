// The orvane executable: the upgrade service with a terminal front-end (--headless).
#include <CLI/CLI.hpp>
#include <cstdio>

#include "ui/headless/headless_view.h"

int main(int argc, char** argv) {
    CLI::App app{"Orvane: upgrades the firmware of network cameras and video recorders"};
    bool headless = false;
    orvane::HeadlessOptions options;
    app.add_flag("--headless", headless, "Run without a window, in the terminal");
    app.add_option("--ip", options.szIp,
                   "Local IPv4 address to serve from (default: the first usable one)");
    app.add_option("--folder", options.szFolder, "Folder of firmware files (the TFTP root)");
    app.add_flag("--ip-check,!--no-ip-check", options.bIpCheck,
                 "Probe each address with ICMP before handing it out (IP occupancy detection)");
    CLI11_PARSE(app, argc, argv);

    if (!headless) {
        std::fprintf(stderr, "orvane: this build has no window yet; run with --headless\n");
        return 2;
    }
    return orvane::RunHeadless(options);
}
