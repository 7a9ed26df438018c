#pragma once

#include <functional>
#include <string>

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

// Takes the process's single-instance lock ("OrvaneDlg" in the runtime folder) for the life of
// the process. False when another instance holds it: the caller shows text 102 and ends.
bool AcquireSingleInstance();

// Window initialisation's reading of Config.ini (its folder standing for the program's folder
// in the defaults), then g_bTestMode and the log (Upgrade.log in the current folder, threshold
// by LogSwitch).
WindowSettings InitialiseSettings();
// The same with another Config.ini and program folder (tests).
WindowSettings InitialiseSettings(const std::string& iniPath, const std::string& programDir,
                                  bool settingsFolderGiven = false);

// The network-failure note shown while the update service cannot be reached, in the calling
// thread's language.
const char* NetworkFailureNote();

}  // namespace orvane
