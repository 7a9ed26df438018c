#pragma once

#include <functional>
#include <string>
#include <vector>

#include "app/app_config.h"

// Start-up steps that every front-end runs, in this order: the language (before any text is
// loaded), the crash recorder, the single-instance rule, then the settings and the log.
namespace orvane {

// Reads an environment variable; null when unset.
using EnvReader = std::function<const char*(const char*)>;

// Whether the user's interface language is Chinese: the first of LC_ALL, LC_MESSAGES and LANG
// that is set and not empty decides; a value beginning with "zh" is Chinese.
bool SystemLanguageIsChinese(const EnvReader& env);

// The effective language for an AppLanguage value: 1 Chinese, 2 English, anything else
// (0, negative, larger) follows the system.
int ChooseLanguage(int appLanguage, bool systemIsChinese);

// Fixes g_iLanguage from Config.ini and the environment and gives the calling (main) thread
// that language.
void InitStartupLanguage();

// Crash records go to CrashDir beside Config.ini (beside the program unless --config moved it).
// False when it could not be installed.
bool InstallCrashRecorder();
std::string CrashRecordDir();

// The log, in the current folder (rotated to RotatedLogPath of it).
constexpr const char* kLogFileName = "Upgrade.log";

// The program's own files, as absolute paths: the settings file `iniPath` (and Config.ini
// wherever start-up took it from), the log and its rotated copy, the crash records' folder
// and the program's files (the orvane command and the real program it runs). The TFTP service
// never serves nor replaces them.
std::vector<std::string> OwnFilePaths(const std::string& iniPath);

// Takes the process's single-instance lock ("OrvaneDlg" in the runtime folder) for the life of
// the process. False when another instance holds it: the caller shows kTextAlreadyRunning and ends.
bool AcquireSingleInstance();
// Lets the lock go early: a restart on Windows starts the new instance as a process of its own,
// which would otherwise find the old one still holding it and end.
void ReleaseSingleInstance();

// What the start-up sequence works with; the defaults are the real ones (tests replace them).
struct StartupSteps {
    StartupSteps();

    std::string iniPath;     // Config.ini
    std::string programDir;  // stands for the program's folder in the settings' defaults
    bool bConfigGiven;       // --config named iniPath: its folder is never served itself
    std::function<void()> installCrashRecorder;
    std::function<bool()> acquireInstance;
};

// The start-up both front-ends run before they show anything, in this order: the crash
// recorder, the single-instance rule, then Config.ini, g_bTestMode and the log (Upgrade.log in
// the current folder, threshold by LogSwitch). False when another instance runs: nothing is
// read, and the caller tells the operator kTextAlreadyRunning and ends. The boxes of
// `settings` reach the engine through the Start command (ServiceControl).
bool RunStartup(const StartupSteps& steps, WindowSettings* settings);

// The network-failure note shown while the update service cannot be reached, in the calling
// thread's language.
const char* NetworkFailureNote();

}  // namespace orvane
