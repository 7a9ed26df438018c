#include "app/app_startup.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "app/app_config.h"
#include "cloud/cloud_query.h"
#include "platform/crash_handler.h"
#include "platform/file.h"
#include "platform/instance_lock.h"
#include "support/language.h"
#include "support/log.h"

namespace orvane {

bool SystemLanguageIsChinese(const EnvReader& env) {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = env(name);
        if (value && *value) {
            return std::strncmp(value, "zh", 2) == 0;
        }
    }
    return false;
}

int ChooseLanguage(int appLanguage, bool systemIsChinese) {
    if (appLanguage == kLanguageChinese || appLanguage == kLanguageEnglish) {
        return appLanguage;
    }
    return systemIsChinese ? kLanguageChinese : kLanguageEnglish;
}

void InitStartupLanguage() {
    const bool chinese =
        SystemLanguageIsChinese([](const char* name) { return std::getenv(name); });
    g_iLanguage = ChooseLanguage(GetAppLanguage(), chinese);
    SetThreadUiLanguage(g_iLanguage);
}

bool InstallCrashRecorder() {
    return platform::InstallCrashHandler(CrashRecordDir());
}

std::string CrashRecordDir() {
    return ConfigIniDir() + "/CrashDir";
}

std::vector<std::string> OwnFilePaths(const std::string& iniPath) {
    std::vector<std::string> paths;
    for (const std::string& p :
         {iniPath, ConfigIniPath(), std::string(kLogFileName), RotatedLogPath(kLogFileName),
          RecordFilePath(iniPath), CrashRecordDir(), platform::ExecutablePath(),
          platform::RunningFilePath()}) {
        std::error_code ec;
        std::filesystem::path absolute = std::filesystem::absolute(platform::FsPath(p), ec);
        if (!p.empty() && !ec) {
            paths.push_back(platform::FsString(absolute.lexically_normal()));
        }
    }
    return paths;
}

namespace {

// Held until the process ends, or a restart hands it on.
platform::InstanceLock& SingleInstanceLock() {
    static platform::InstanceLock lock;
    return lock;
}

}  // namespace

bool AcquireSingleInstance() {
    return SingleInstanceLock().TryAcquire(platform::RuntimeDir() + "/OrvaneDlg");
}

void ReleaseSingleInstance() {
    SingleInstanceLock().Release();
}

// The settings' folder stands for the program's own folder in the defaults (the folder served
// without a history, Firmware beside it): the same folder unless --config moved the settings,
// and then the program's folder is a system one that is never to be served.
StartupSteps::StartupSteps()
    : iniPath(ConfigIniPath()),
      programDir(ConfigIniDir()),
      bConfigGiven(ConfigIniPathGiven()),
      installCrashRecorder([] { InstallCrashRecorder(); }),
      acquireInstance(AcquireSingleInstance) {}

bool RunStartup(const StartupSteps& steps, WindowSettings* settings) {
    steps.installCrashRecorder();
    if (!steps.acquireInstance()) {
        return false;
    }
    *settings = LoadWindowSettings(steps.iniPath, steps.programDir, steps.bConfigGiven);
    g_bTestMode = settings->bTestMode;
    SetLogMaxBytes(static_cast<uint64_t>(settings->iLogMaxMiB) << 20);
    InitLog(LogThresholdFor(settings->iLogSwitch), kLogFileName);
    return true;
}

const char* NetworkFailureNote() {
    return GetThreadUiLanguage() == kLanguageChinese
               ? "网络连接失败，将无法使用云端固件升级功能"
               : "Network connection fails, the cloud firmware upgrade function cannot be used";
}

}  // namespace orvane
