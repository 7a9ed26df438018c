#include "app/app_config.h"

#include <algorithm>
#include <filesystem>

#include "app/profile_file.h"
#include "platform/file.h"
#include "support/log.h"

namespace orvane {

namespace {

// Path is read into a buffer of 2,560 bytes; each folder of it is a path of at most 255.
constexpr size_t kMaxPathValue = 2559;
constexpr size_t kMaxFolder = 255;

// Set once by start-up before any other thread exists; read-only afterwards.
std::string g_szConfigIniPath;
std::string g_szRecordFilePath;
std::string g_szTrustKeyPath;

constexpr size_t kMaxRecordPath = 4095;

int ReadInt(const std::string& iniPath, const char* key, int defaultValue) {
    return ReadProfileInt(iniPath, kConfigSection, key, defaultValue);
}

// A count of the settings: below 1 (what a negative or non-numeric value reads as) gives the
// default, above `most` is cut to `most`.
int ReadBounded(const std::string& iniPath, const char* key, int defaultValue, int most) {
    const int value = ReadInt(iniPath, key, defaultValue);
    return value < 1 ? defaultValue : std::min(value, most);
}

void CreateFolderIfMissing(const std::string& folder) {
    std::error_code ec;
    if (!folder.empty() && !std::filesystem::exists(platform::FsPath(folder), ec)) {
        std::filesystem::create_directory(platform::FsPath(folder), ec);
    }
}

void AddPathFolders(const std::string& value, FolderHistory* folders) {
    size_t start = 0;
    while (start <= value.size()) {
        size_t bar = value.find('|', start);
        size_t end = bar == std::string::npos ? value.size() : bar;
        if (end > start) {
            folders->Add(CutUtf8(value.substr(start, end - start), kMaxFolder));
        }
        if (bar == std::string::npos) {
            break;
        }
        start = bar + 1;
    }
}

}  // namespace

std::string ConfigIniPath() {
    return g_szConfigIniPath.empty() ? platform::SettingsDir() + "/Config.ini" : g_szConfigIniPath;
}

void SetConfigIniPath(const std::string& path) {
    std::error_code ec;
    std::filesystem::path absolute = std::filesystem::absolute(platform::FsPath(path), ec);
    g_szConfigIniPath = ec ? path : platform::FsString(absolute.lexically_normal());
}

void SetRecordFilePath(const std::string& path) {
    g_szRecordFilePath = path;
}

std::string RecordFilePath(const std::string& iniPath) {
    std::string path = g_szRecordFilePath;
    if (path.empty()) {
        path =
            ReadProfileString(iniPath, kConfigSection, "RecordFile", kMaxRecordPath).value_or("");
    }
    if (path.empty()) {
        path = "upgrades.csv";
    }
    std::error_code ec;
    std::filesystem::path absolute = std::filesystem::absolute(platform::FsPath(path), ec);
    return ec ? path : platform::FsString(absolute.lexically_normal());
}

void SetTrustKeyPath(const std::string& path) {
    g_szTrustKeyPath = path;
}

std::string TrustKeyPath(const std::string& iniPath) {
    std::string path = g_szTrustKeyPath;
    if (path.empty()) {
        path = ReadProfileString(iniPath, kConfigSection, "TrustKey", kMaxRecordPath).value_or("");
    }
    if (path.empty()) {
        return path;
    }
    std::error_code ec;
    std::filesystem::path absolute = std::filesystem::absolute(platform::FsPath(path), ec);
    return ec ? path : platform::FsString(absolute.lexically_normal());
}

bool ConfigIniPathGiven() {
    return !g_szConfigIniPath.empty();
}

std::string ConfigIniDir() {
    return platform::FsString(platform::FsPath(ConfigIniPath()).parent_path());
}

int ReadLogSwitch(const std::string& iniPath) {
    return ReadInt(iniPath, "LogSwitch", 0);
}

int LogThresholdFor(int logSwitch) {
    return logSwitch == 1 ? kLogInfo : kLogMajor;
}

int GetAppLanguage() {
    return GetAppLanguage(ConfigIniPath());
}

int GetAppLanguage(const std::string& iniPath) {
    return ReadInt(iniPath, "AppLanguage", 0);
}

WindowSettings LoadWindowSettings(const std::string& iniPath, const std::string& programDir,
                                  bool settingsFolderGiven) {
    WindowSettings s;
    s.bConfigFound = ReadProfileText(iniPath).has_value();
    if (s.bConfigFound) {
        std::string path =
            ReadProfileString(iniPath, kConfigSection, "Path", kMaxPathValue).value_or("");
        if (path.empty()) {
            const std::string firmware = programDir + "/Firmware";
            CreateFolderIfMissing(firmware);
            s.folders.Add(firmware);
        } else {
            AddPathFolders(path, &s.folders);
        }
        s.bForcedUpgrade = ReadInt(iniPath, "ForcedUpgradeVerison", 1) != 0;
        s.bIpCheck = ReadInt(iniPath, "IPCheck", 0) != 0;
        int language = ReadInt(iniPath, "AppLanguage", 0);
        s.iLanguageSelection = (language >= 0 && language <= 2) ? language : -1;
        s.bTestMode = ReadInt(iniPath, "TestMode", 0) != 0;
        s.bShowAllDevices = ReadInt(iniPath, "ShowAllDev", 1) != 0;
    } else {
        s.folders.Add(settingsFolderGiven ? programDir + "/Firmware" : programDir);
    }
    s.folders.Select(ReadInt(iniPath, "CurSelPath", 0));
    CreateFolderIfMissing(s.folders.Text());
    s.iLogSwitch = ReadInt(iniPath, "LogSwitch", 0);
    s.iLogMaxMiB = ReadBounded(iniPath, "LogMaxMiB", kDefaultLogMaxMiB, kMaxLogMaxMiB);
    s.bTftpWrite = ReadInt(iniPath, "TftpWrite", 0) != 0;
    s.iTftpMaxTransfers =
        ReadBounded(iniPath, "TftpMaxTransfers", kDefaultTftpMaxTransfers, kMaxTftpMaxTransfers);
    s.iTftpMaxWindow =
        ReadBounded(iniPath, "TftpMaxWindow", kDefaultTftpMaxWindow, kMaxTftpMaxWindow);
    return s;
}

bool SaveStartSettings(const std::string& iniPath, FolderHistory* folders, bool forcedUpgrade,
                       bool ipCheck, bool showAllDevices) {
    std::vector<ProfileValue> values;
    if (folders) {
        folders->DropOldestBeyondLimit();
        values.push_back({"Path", CutUtf8(folders->PathValue(), kMaxPathValue)});
        values.push_back({"CurSelPath", std::to_string(folders->SelectedIndex())});
    }
    values.push_back({"ForcedUpgradeVerison", forcedUpgrade ? "1" : "0"});
    values.push_back({"IPCheck", ipCheck ? "1" : "0"});
    values.push_back({"ShowAllDev", showAllDevices ? "1" : "0"});
    if (!WriteProfileValues(iniPath, kConfigSection, values)) {
        WriteLog(kLogGeneral, "SaveStartSettings cannot write %s", iniPath.c_str());
        return false;
    }
    return true;
}

}  // namespace orvane
