#pragma once

#include <string>

#include "app/folder_history.h"

namespace orvane {

// Config.ini's one section.
constexpr const char* kConfigSection = "CNFINFO";

// Path of Config.ini: beside the program unless SetConfigIniPath named another file.
std::string ConfigIniPath();

// Names the settings file to read and save instead of Config.ini beside the program, for an
// installed program whose own folder is not writable. A relative path is taken from the
// current folder now. Call at start-up, before anything reads the settings.
void SetConfigIniPath(const std::string& path);

// Names the upgrade record's file for every run (--record), over Config.ini's RecordFile.
void SetRecordFilePath(const std::string& path);
// The upgrade record's file: --record, else RecordFile of `iniPath`, else upgrades.csv in the
// current folder (beside Upgrade.log); a relative name is taken from the current folder.
std::string RecordFilePath(const std::string& iniPath);

// Names the signed list's public key for every run (--trust), over Config.ini's TrustKey.
void SetTrustKeyPath(const std::string& path);
// The signed list's key: --trust, else TrustKey of `iniPath`; empty (no trust key: every
// firmware file is offered) when neither names one. Relative names are taken from the current
// folder.
std::string TrustKeyPath(const std::string& iniPath);

// Folder of ConfigIniPath(): crash records are kept beside the settings.
std::string ConfigIniDir();

// Whether SetConfigIniPath named the settings file (an installed program's settings folder,
// which holds the settings, crash records and perhaps the log, and is never served itself).
bool ConfigIniPathGiven();

// LogSwitch of section CNFINFO: 1 turns on the "Info" level; anything else, or no file,
// leaves only "Major" lines.
int ReadLogSwitch(const std::string& iniPath);

// The log threshold that a LogSwitch value gives.
int LogThresholdFor(int logSwitch);

// AppLanguage of Config.ini beside the program (or of `iniPath`): 0 automatic, 1 Chinese,
// 2 English; 0 when missing.
int GetAppLanguage();
int GetAppLanguage(const std::string& iniPath);

// TftpMaxTransfers: 1..4096 transfer records, 1000 without the key or the file.
constexpr int kDefaultTftpMaxTransfers = 1000;
constexpr int kMaxTftpMaxTransfers = 4096;
// TftpMaxWindow: the largest TFTP windowsize granted, 1..65535, 64 without the key or the file.
constexpr int kDefaultTftpMaxWindow = 64;
constexpr int kMaxTftpMaxWindow = 65535;

constexpr int kDefaultLogMaxMiB = 64;
constexpr int kMaxLogMaxMiB = 1 << 20;  // 1 TiB: larger values are taken as this

// What window initialisation takes from Config.ini.
struct WindowSettings {
    bool bConfigFound = false;
    FolderHistory folders;  // the folder box, its entry selected by CurSelPath
    bool bForcedUpgrade = false;
    bool bIpCheck = false;
    bool bShowAllDevices = false;
    int iLanguageSelection = -1;  // entry of the language box; -1 selects none
    bool bTestMode = false;
    int iLogSwitch = 0;
    // LogMaxMiB: the size at which Upgrade.log is renamed Upgrade.log.1 and started anew
    // (below 1, or absent: 64).
    int iLogMaxMiB = kDefaultLogMaxMiB;
    // TftpWrite: whether the TFTP server takes uploads; without the key (or the file) it does
    // not, since any host of the LAN could then replace the firmware devices fetch.
    bool bTftpWrite = false;
    // TftpMaxTransfers: TFTP transfers at once; above 4096 is cut to 4096, and 0 (what a
    // negative or non-numeric value reads as) gives the default.
    int iTftpMaxTransfers = kDefaultTftpMaxTransfers;
    // TftpMaxWindow: the largest windowsize a TFTP client is granted; above 65535 is cut to
    // 65535, and 0 (or a negative or non-numeric value) gives the default.
    int iTftpMaxWindow = kDefaultTftpMaxWindow;
};

// Reads Config.ini as the window's initialisation does. A missing (or unreadable) file gives
// the program's folder as the only entry and all three boxes unticked. A file with an empty
// Path gives the folder Firmware beside the program, created if missing. With
// `settingsFolderGiven` (--config), `programDir` is the settings' own folder, which is never
// served: a file that names no folder, or no file, gives its Firmware folder instead. The folder
// that ends up selected is created when missing (one level; a failure is ignored).
WindowSettings LoadWindowSettings(const std::string& iniPath, const std::string& programDir,
                                  bool settingsFolderGiven = false);

// Saves the settings of a Start: the folder history (after dropping the oldest of more than
// ten entries) and its selected entry (-1 for none), unless `folders` is null, and the three
// boxes. Every other line of the
// file stays. False when the file could not be written.
bool SaveStartSettings(const std::string& iniPath, FolderHistory* folders, bool forcedUpgrade,
                       bool ipCheck, bool showAllDevices);

}  // namespace orvane
