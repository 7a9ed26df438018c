#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "firmware/signed_list.h"
#include "firmware/upgrade_file_info.h"

namespace orvane {

// Probes one file of the upgrade folder ("QVRFMW22" package, "FIRMWARE" or "FIRMWNVR"
// header) and appends its record when it is usable; anything else is logged and left out.
// `folder` ends in "/". With `trust` given, a firmware file the signed list does not vouch
// for is left out too. The caller holds the catalogue lock.
void AddUpgradeFileInfo(std::vector<UpgradeFileInfo>& catalogue, const std::string& folder,
                        const std::string& name, FirmwareTrust* trust = nullptr);

// The model of the firmware file at `path` ("QVRFMW22" package, fully validated, or "FIRMWARE"
// / "FIRMWNVR" header), read as the catalogue reads it. False (and `model` empty) for a file
// that is no firmware, or cannot be read.
bool ReadFirmwareModel(const std::string& path, std::string* model);

// Rebuilds the catalogue from the files of `folder` (with or without a trailing "/"), in the
// order the folder lists them, then drops outranked versions. Holds `lock` for the whole
// rebuild, so a reader never sees a half-built catalogue. A folder that cannot be listed
// leaves the catalogue empty, and so does a signed list that fails its check when `trust` is
// given (it is guarded by `lock` too).
void SaveUpgradeFileInfo(std::vector<UpgradeFileInfo>& catalogue, std::mutex& lock,
                         const std::string& folder, FirmwareTrust* trust = nullptr);

}  // namespace orvane
