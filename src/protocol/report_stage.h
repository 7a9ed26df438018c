#pragma once

#include <array>
#include <string>

#include "support/text_ids.h"

namespace orvane {

// Device kinds of a device record: the chosen firmware's iNvrFirmware, or not known yet (a
// device that reports without having asked this run).
constexpr int kDeviceKindIpc = 0;
constexpr int kDeviceKindNvr = 1;
constexpr int kDeviceKindUnknown = 2;

// The "State:" codes of a report.
enum class ReportState : int {
    kDone = 0,  // the stage finished
    kBusy = 1,  // the stage is under way
    kCrcFailed = 2,
    kMagicFailed = 3,
    kSizeFailed = 4,
    kVersionCheckFailed = 5,
    kFailed = 6,       // the stage failed
    kUbootRepair = 7,  // boot loader mismatch: the device repairs it and flashes again
};
constexpr int kLastReportState = static_cast<int>(ReportState::kUbootRepair);

// One stage a device reports while it flashes its firmware. Its report event is its place in
// kReportStages, its message type that place + 1 (type 0 is the address request).
struct ReportStage {
    const char* szKeyword;  // the "Msg:" value
    const char* szCliName;  // the stage's name on orvane-devsim's command line
    int iDoneText;          // status text of ReportState::kDone
    int iBusyText;          // of kBusy; 0: the status stays as it was
    int iFailedText;        // of kFailed; 0: none, and the window is not raised
    bool bLastOfIpc;        // its success ends the upgrade of a camera (and of an unknown kind)
    bool bLastOfNvr;        // its success ends the upgrade of a recorder
};

// In the order devices report them; adding a stage is one row here and its texts.
constexpr std::array<ReportStage, 12> kReportStages = {{
    {"Report_Downloading", "download", kTextDownloadDone, kTextDownloadBusy, kTextDownloadFailed,
     false, false},
    {"Report_Uboot", "uboot", kTextUbootDone, kTextUbootBusy, kTextUbootFailed, false, false},
    {"Report_Kernel", "kernel", kTextKernelDone, kTextKernelBusy, kTextKernelFailed, false, false},
    {"Report_Filesystem", "filesystem", kTextUpgradeComplete, kTextFsBusy, kTextFsFailed, true,
     false},
    {"Report_Config", "config", kTextConfigDone, kTextConfigBusy, kTextConfigFailed, false, false},
    {"Report_Logoboot", "logoboot", kTextLogoBootDone, kTextLogoBootBusy, kTextLogoBootFailed,
     false, false},
    {"Report_App", "app", kTextAppDone, kTextAppBusy, kTextAppFailed, false, false},
    {"Report_User", "user", kTextUserDone, kTextUserBusy, kTextUserFailed, false, false},
    {"Report_LogoUpgradeing", "logo-upgrading", kTextLogoUpgradingDone, kTextLogoUpgradingBusy,
     kTextLogoUpgradingFailed, false, false},
    {"Report_LogoUpgraded", "logo-upgraded", kTextLogoUpgradedDone, kTextLogoUpgradedBusy,
     kTextLogoUpgradedFailed, false, false},
    {"Report_Param", "param", kTextParamDone, kTextParamBusy, kTextParamFailed, false, false},
    {"Report_Update", "update", kTextUpgradeComplete, 0, 0, false, true},
}};

constexpr int kReportStageCount = static_cast<int>(kReportStages.size());
// The first stage, the download itself: a device reports it while it fetches the file.
constexpr int kDownloadEvent = 0;

// The stage of report event `event`; null when there is none.
const ReportStage* FindReportStage(int event);
// Whether a success at `event` ends the upgrade of a device of `deviceKind`.
bool IsLastStage(int deviceKind, int event);
// The stage whose success ends the upgrade of a device of `deviceKind`.
int LastStageOf(int deviceKind);
// The report event of a stage's command-line name, -1 for none.
int StageEventByName(const std::string& name);
// Every stage's command-line name in order, ", " between them (for help texts).
std::string StageNameList();

}  // namespace orvane
