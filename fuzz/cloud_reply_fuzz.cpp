// Feeds arbitrary bytes to the update service's reply parser: it must never crash, throw,
// overrun or report success without the four data values.
#include <cstddef>
#include <cstdint>
#include <string>

#include "cloud/cloud_reply.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    orvane::CloudFirmwareInfo info;
    std::string message;
    const int result =
        orvane::ParseCloudReply(reinterpret_cast<const char*>(data), size, &info, &message);
    const std::string text(reinterpret_cast<const char*>(data), size);
    if (result == orvane::kCloudQueryOk && text.find("file_md5") == std::string::npos) {
        __builtin_trap();
    }
    return 0;
}
