// Feeds arbitrary datagrams through everything that reads a device message.
#include <cstddef>
#include <cstdint>
#include <string>

#include "protocol/device_message.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The listener hands on at most 2047 bytes, cut at the first NUL.
    std::string text(reinterpret_cast<const char*>(data), size < 2047 ? size : 2047);
    text = text.c_str();
    orvane::GetMsgType(text);
    orvane::DeviceRequest request;
    if (!orvane::ParseDeviceRequest(text, &request)) {
        orvane::BuildNoNewVersionReply(request.iCseq, request.szMac);
        orvane::BuildDeviceRequest(request);
    }
    orvane::DeviceReport report;
    if (!orvane::ParseDeviceReport(text, &report)) {
        orvane::BuildDeviceReport(report);
    }
    return 0;
}
