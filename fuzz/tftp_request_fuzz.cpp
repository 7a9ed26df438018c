// Feeds arbitrary datagrams to the TFTP request decoder and the option negotiation.
#include <cstddef>
#include <cstdint>

#include "platform/file.h"
#include "tftp/tftp_decode.h"
#include "tftp/tftp_request.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace orvane;
    TftpSettings settings;
    settings.writeAllowed = true;
    const TftpDecodedRequest r = DecodeTftpRequest(data, size, settings);
    if (!r.refused && (r.fullName.size() >= kTftpMaxPath || IsRefusedTftpName(r.fileName))) {
        __builtin_trap();
    }
    const TftpRequestFields f = SplitTftpRequest(data, size);
    TftpModeFromText(f.mode);
    const std::string name = NormaliseTftpName(f.fileName);
    if (!IsRefusedTftpName(name)) {
        platform::IsPathInsideRoot("/srv/fw", JoinTftpPath("/srv/fw", name));
    }
    for (bool isRead : {true, false}) {
        TftpNegotiation n;
        n.timeoutSeconds = 5;
        n.fileSize = static_cast<uint32_t>(size);
        NegotiateTftpOptions(f.options, isRead, &n);
        if (n.optionLength > n.options.size() || n.blockSize < 8 || n.blockSize > 16384) {
            __builtin_trap();
        }
        PrintableOack(n.options.data(), n.optionLength);
    }
    return 0;
}
