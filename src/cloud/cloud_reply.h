#pragma once

#include <cstddef>
#include <string>

namespace orvane {

// Result codes of a firmware query; any other value is the update service's own "code".
constexpr int kCloudQueryOk = 0;
constexpr int kCloudNoReply = 2;        // the service gave no HTTP reply at all
constexpr int kCloudConnectFailed = 3;  // the connection or the transfer failed
constexpr int kCloudBadReply = 7;       // the reply is not a usable document

// What a successful query names: the newest firmware of a model.
struct CloudFirmwareInfo {
    std::string model;
    std::string device_identify;  // the downloaded file is named after it
    std::string file_url;
    std::string file_md5;  // hexadecimal, compared without regard to case
};

// Reads the service's JSON reply: `length` bytes of `text`, of which only those before the
// first zero byte count. 0 with `info` filled; the service's code (not 200) with its "msg" in
// `message`; kCloudBadReply for anything unusable: not JSON, a root that is not an object,
// a missing or non-integer "code", a code of 0 (which would read as success without data),
// a missing "data" or a data member that is missing or not text. Never throws.
int ParseCloudReply(const char* text, size_t length, CloudFirmwareInfo* info, std::string* message);

}  // namespace orvane
