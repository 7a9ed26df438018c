// The real orvane program (orvane-program, run by the orvane command of src/launcher): the
// main window, or the upgrade service with a terminal front-end (--headless).
#include <CLI/CLI.hpp>
#include <cstdio>
#include <string>

#include "app/app_startup.h"
#include "app/product_version.h"
#include "platform/launcher_path.h"
#include "platform/signals.h"
#include "ui/headless/headless_view.h"
#include "ui/wx/run_window.h"

namespace {

// --NAME ticks the box, --no-NAME unticks it; the last one given wins. The window has the
// boxes themselves, so these belong to --headless.
void AddBoxFlags(CLI::App& app, CLI::Option* headless, const std::string& name,
                 const std::string& box, int* state) {
    app.add_flag_callback(
           "--" + name, [state] { *state = 1; }, "Tick \"" + box + "\"")
        ->needs(headless);
    app.add_flag_callback(
           "--no-" + name, [state] { *state = 0; }, "Untick \"" + box + "\"")
        ->needs(headless);
}

}  // namespace

int main(int argc, char** argv) {
    // Before anything that may block (Config.ini is read for the language below).
    orvane::platform::ExitOnTerminationSignals();
    // Before anything asks for the program's folder.
    orvane::platform::TakeLauncherPath();
    argv = orvane::platform::Utf8Argv(argc, argv);
    CLI::App app{"Orvane: upgrades the firmware of network cameras and video recorders"};
    bool headless = false;
    std::string configPath;
    orvane::HeadlessOptions options;
    app.set_version_flag("--version", "Orvane_V" + orvane::GetProductVersionText());
    CLI::Option* headlessFlag =
        app.add_flag("--headless", headless, "Run without a window, in the terminal");
    app.add_option("--ip", options.szIp,
                   "Local IPv4 address to serve from (default: the first usable one)")
        ->needs(headlessFlag);
    app.add_option("--folder", options.szFolder,
                   "Folder of firmware files (the TFTP root), as if chosen with Browse")
        ->needs(headlessFlag);
    // Each box: ticked, unticked, or (neither given) as Config.ini has it.
    AddBoxFlags(app, headlessFlag, "force", "Forcibly upgrade to an earlier version",
                &options.iForcedUpgrade);
    AddBoxFlags(app, headlessFlag, "show-all", "Display devices with the same version",
                &options.iShowAllDevices);
    AddBoxFlags(app, headlessFlag, "ip-check", "IP occupancy detection", &options.iIpCheck);
    app.add_flag_callback(
           "--tftp-write", [&options] { options.iTftpWrite = 1; },
           "Take TFTP uploads (write requests) into the folder")
        ->needs(headlessFlag);
    app.add_flag_callback(
           "--no-tftp-write", [&options] { options.iTftpWrite = 0; },
           "Refuse every TFTP upload (write request)")
        ->needs(headlessFlag);
    app.add_option("--tftp-max-transfers", options.iTftpMaxTransfers,
                   "TFTP transfers at once, 1..4096 (default: Config.ini's TftpMaxTransfers, "
                   "else 1000)")
        ->check(CLI::Range(1, 4096))
        ->needs(headlessFlag);
    app.add_option("--tftp-max-window", options.iTftpMaxWindow,
                   "Largest TFTP windowsize granted to a client, 1..65535 (default: Config.ini's "
                   "TftpMaxWindow, else 64)")
        ->check(CLI::Range(1, 65535))
        ->needs(headlessFlag);
    // Both front-ends keep their settings there: the window saves at Start and at a language
    // change, the headless mode at Start.
    app.add_option("--config", configPath,
                   "Settings file to read and save (default: Config.ini beside the program); "
                   "crash records go to CrashDir beside it");
    std::string recordPath;
    app.add_option("--record", recordPath,
                   "Upgrade record to append to (default: RecordFile of the settings, else "
                   "upgrades.csv in the current folder)");
    std::string trustKey;
    app.add_option("--trust", trustKey,
                   "Public key (PEM) of the signed list: only files that the folder's "
                   "SHA256SUMS, signed in SHA256SUMS.sig, vouches for are served (default: "
                   "TrustKey of the settings)");
    app.add_option("--http", options.szHttp,
                   "Serve the web view and /metrics on ADDR:PORT (e.g. 127.0.0.1:8069)")
        ->needs(headlessFlag);
    // A site's upgrade: which devices, how many at once, and when to stop.
    app.add_option("--only", options.szScopeFile,
                   "Upgrade only the devices of FILE (MACs, model:NAME lines; default: "
                   "Config.ini's ScopeFile)")
        ->needs(headlessFlag);
    app.add_option("--retry-failed", options.szRetryFile,
                   "Upgrade only the devices whose last line in the upgrade record FILE is "
                   "failure or incomplete")
        ->needs(headlessFlag);
    app.add_option("--max-at-once", options.iMaxAtOnce,
                   "At most N devices upgrading at once, the others wait (0: no limit)")
        ->check(CLI::Range(0, orvane::kMaxDeviceRows))
        ->needs(headlessFlag);
    app.add_option("--first", options.iFirstGroup,
                   "Answer N devices first; the rest wait until all N have succeeded")
        ->check(CLI::Range(0, orvane::kMaxDeviceRows))
        ->needs(headlessFlag);
    app.add_option("--halt-after", options.iHaltAfter,
                   "Stop answering new devices at the N-th failure (0: never)")
        ->check(CLI::Range(0, orvane::kMaxDeviceRows))
        ->needs(headlessFlag);
    app.add_option("--http-host", options.vecHttpHosts,
                   "A name the web view answers to besides its address and localhost "
                   "(repeatable; other Host headers get 421)")
        ->needs(headlessFlag);
    CLI11_PARSE(app, argc, argv);
    if (!configPath.empty()) {
        orvane::SetConfigIniPath(configPath);
    }
    if (!recordPath.empty()) {
        orvane::SetRecordFilePath(recordPath);
    }
    if (!trustKey.empty()) {
        orvane::SetTrustKeyPath(trustKey);
    }

    // The language is fixed before any text is shown, whichever front-end runs.
    orvane::InitStartupLanguage();

    if (!headless) {
        // The toolkit sees only the program's name: every option was CLI11's.
        return orvane::ui::RunWindow(1, argv);
    }
    return orvane::RunHeadless(options);
}
