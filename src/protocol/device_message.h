#pragma once

#include <cstddef>
#include <string>

#include "protocol/report_stage.h"

namespace orvane {

// Devices send to this port of the chosen address; replies are broadcast to kReplyPort.
constexpr unsigned short kListenPort = 10011;
constexpr unsigned short kReplyPort = 10010;
// Receive buffer of one datagram; texts are at most kMaxDatagram - 1 bytes.
constexpr size_t kMaxDatagram = 2048;

// The "Msg:" value of an address request.
constexpr const char* kRequestKeyword = "Request_ipaddr";
// Bytes of the "Msg:" value that are compared with the keywords.
constexpr int kMaxMsgWord = 63;

// Message types of the "Msg:" line: the address request, then the report stages in their order
// (type = report event + 1), then kMsgUnknown for a text that matches no keyword.
constexpr int kMsgRequestIpaddr = 0;
constexpr int kMsgUnknown = kReportStageCount + 1;

// Reads the bytes between the first occurrence of `key` and the next CR LF into `value`.
// 0 read; -1 maxLen <= 0; -2 the value has maxLen bytes or more; -3 no CR LF after the key;
// -4 no key. On failure `value` is left as it was.
int ReadFlagValue(std::string& value, int maxLen, const std::string& msg, const std::string& key);

// Classifies a message by the start of its "Msg:" value, kMsgUnknown when nothing matches.
int GetMsgType(const std::string& msg);
// The report event of message type `type`; -1 when it is no report.
int ReportEventOfType(int type);

// True when the message is an address request (type 0).
bool IsRequestMsg(const std::string& msg);

// Splits a device "Version:" value "model-version[-...]" into model (with '*' turned into
// '-') and version number, each cut to 64 characters. An empty text leaves both unchanged,
// and a text without a second field leaves the version number unchanged.
void SplitVersion(const std::string& version, std::string& model, std::string& verNum);

// Decimal text-to-integer rule of the protocol (blanks, sign, digits; anything else stops):
// "abc" gives 0.
int ProtocolAtoi(const std::string& text);

struct AssignReply {
    int iCseq;               // the request's Cseq; the reply carries iCseq + 1
    std::string szLocalMac;  // "00:1A:2B:3C:4D:5E"
    std::string szLocalIP;   // server address
    std::string szNewIp;     // address given to the device
    std::string szIpcMac;    // the device's MAC, echoed
    std::string szVersion;   // firmware version text
    std::string szFileName;  // file to fetch over TFTP
};

// The reply texts, without the NUL that goes on the wire (SendToIPC adds it); cut to 1023
// bytes like their 1024-byte buffer.
std::string BuildAssignReply(const AssignReply& r);
std::string BuildNoNewVersionReply(int iCseq, const std::string& szIpcMac);

}  // namespace orvane
