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
    static const char* kKeys[] = {
        "Msg:", "Version:", "Cseq:", "IPCMac:", "Ipaddr:", "Schedule:", "State:"};
    for (const char* key : kKeys) {
        std::string value;
        if (orvane::ReadFlagValue(value, 256, text, key) == 0) {
            std::string model, verNum;
            orvane::SplitVersion(value, model, verNum);
            orvane::BuildNoNewVersionReply(orvane::ProtocolAtoi(value), value);
        }
    }
    return 0;
}
