#pragma once

#include <atomic>
#include <functional>
#include <string>

#include "cloud/cloud_download.h"
#include "cloud/cloud_reply.h"

namespace orvane {

// The MD5 digest of the file at `path` as 32 lower-case hexadecimal digits. False (and `md5`
// empty) when the file cannot be opened or read.
bool GetFileMd5(const std::string& path, std::string* md5);

// The operator's text for a download result in the calling thread's language: empty for
// success, "downlaod error" for 7 and every code without a text of its own.
std::string GetCloudErrorText(int code);

// Whether a firmware identifier from the update service can name a file of the firmware
// folder that devices can fetch: not empty, no "/", "\", "..", "%", control byte (below 0x20,
// 0x7F) or leading ".", and short enough that the name with ".bin" fits 255 bytes.
bool IsSafeFirmwareIdentifier(const std::string& identifier);

// Whether the file at a path is firmware of the model a download was asked for.
using FirmwareCheck = std::function<bool(const std::string& path)>;

// Downloads the firmware `info` names into `folder` and verifies it: the body goes to a
// temporary file there (a name the catalogue never reads), which becomes
// `info.device_identify` + ".bin" only once its MD5 digest equals `info.file_md5` (compared
// without regard to case) and `isWanted` takes it; a file of that name already there is
// replaced only when `isWanted` takes it too (the operator's firmware of another model, or
// anything else, stays). A null `isWanted` takes every file. On any failure nothing is left
// behind and an existing file of that name is untouched. Returns kDownloadOk with the file's
// name in `fileName`, a download result 1 to 7 (kDownloadError for an identifier that cannot
// name a file, or a file `isWanted` refuses), kDownloadMd5Error, or kDownloadUnlisted when
// `isVouched` (null: every file) refuses the verified file. Never throws.
int FetchCloudFirmware(const CloudFirmwareInfo& info, const std::string& folder,
                       const DownloadLimits& limits, const std::atomic<int>* running,
                       const FirmwareCheck& isWanted, std::string* fileName,
                       const FirmwareCheck& isVouched = nullptr);

}  // namespace orvane
