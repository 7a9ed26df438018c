#pragma once

#include <cstddef>
#include <string>

namespace orvane::devsim {

// The server's answer to an address request, as a device reads it off the wire. This reader
// is the device's own, written from the reply format and sharing no code with the server's
// parser or builders, so a fault on either side shows as a reply the device refuses.
struct ServerReply {
    bool bAssignment = false;  // the long reply: an address and a file to fetch
    long long iCseq = 0;       // as sent: the request's Cseq plus one
    std::string szIpcMac;
    // The long reply only.
    std::string szServerMac;
    std::string szServerIp;
    std::string szIpaddr;
    std::string szVersion;
    std::string szFilePath;
};

// Reads one datagram of `len` bytes: the text and one NUL after it, nothing else. The text is
// "Key:value" lines, each ended by CR LF, exactly the lines of one of the two replies in
// their order ("Msg:Request_ipaddr", "Cseq:", then "IPCMac:" for the short one; "ServerMac:",
// "ServerIP:", "Ipaddr:", "IPCMac:", "Version:", "FilePath:" for the long one), with a decimal
// Cseq. False, with the reason in `error`, for anything else.
bool ReadServerReply(const char* data, size_t len, ServerReply* out, std::string* error);

}  // namespace orvane::devsim
