#pragma once

#include <string>

namespace orvane {

// Why a folder may not be served, if it may not.
enum class FolderRefusal {
    kNone,
    kSystemFolder,  // "/" or one of the system's own folders
    kNotAFolder,    // missing (and not creatable one level deep) or not a directory
};

// Whether `folder` may be the TFTP root and the cloud downloads' target. The TFTP server gives
// the whole folder to every host of the LAN (and takes uploads into it when allowed), so "/"
// and the system's own folders are refused, also when reached through a symbolic link. Looks
// only; creates nothing.
FolderRefusal CheckUpgradeFolder(const std::string& folder);

// Start's preparation of the folder: refused at once when it names a system folder (before
// anything is created there), else created when missing (one level), then checked again.
FolderRefusal PrepareUpgradeFolder(const std::string& folder);

// The operator's text for a refusal, in the process's language, naming the folder.
std::string FolderRefusalText(FolderRefusal refusal, const std::string& folder);

}  // namespace orvane
