#pragma once

#include <array>
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

// An address request ("Msg:Request_ipaddr") as a device sends it.
struct DeviceRequest {
    std::string szVersion;  // "model-version[-...]"
    std::string szCseq;     // as sent; iCseq is what the replies use
    std::string szMac;      // echoed byte for byte
    // Read from the lines above once all of them are there (and what a builder sends as Cseq).
    int iCseq = 0;
    std::string szModel;
    std::string szVerNum;
};

// A progress report ("Msg:Report_...") as a device sends it.
struct DeviceReport {
    int iEvent = 0;  // its stage in kReportStages, given by the "Msg:" line
    std::string szIpAddr;
    std::string szMac;
    std::string szSchedule;
    std::string szState;  // a ReportState code in decimal, as sent
    std::string szVersion;
};

// Where a message has a line: its place among the message's lines (1 first, 0 not there) and
// the member it fills.
template <typename Message>
struct FieldPlace {
    int iLine = 0;
    std::string Message::*member = nullptr;
};

// One value line of the devices' messages.
struct DeviceField {
    const char* szKey;
    int iLimit;             // ReadFlagValue's maxLen: a value must be shorter
    const char* szLogName;  // the name log lines give it
    FieldPlace<DeviceRequest> request;
    FieldPlace<DeviceReport> report;
};

// Every value line a device sends. A message's lines are read in their places' order, so the
// first one missing names the fault, and devices write them in that order. Adding a line is
// a row here and the member it fills.
constexpr std::array<DeviceField, 6> kDeviceFields = {{
    // key        limit  log name        request                          report
    {"Version:", 256, "IPC_VERSION", {1, &DeviceRequest::szVersion}, {5, &DeviceReport::szVersion}},
    {"Cseq:", 16, "IPC_CSEQ", {2, &DeviceRequest::szCseq}, {}},
    {"IPCMac:", 64, "IPC_MAC", {3, &DeviceRequest::szMac}, {2, &DeviceReport::szMac}},
    {"Ipaddr:", 64, "IPC_ADDR", {}, {1, &DeviceReport::szIpAddr}},
    {"Schedule:", 16, "IPC_SCHEDULE", {}, {3, &DeviceReport::szSchedule}},
    {"State:", 16, "IPC_STATE", {}, {4, &DeviceReport::szState}},
}};

// The place of a report's member among its lines (0: no line fills it).
constexpr int ReportLineOf(std::string DeviceReport::*member) {
    for (const DeviceField& field : kDeviceFields) {
        if (field.report.member == member) {
            return field.report.iLine;
        }
    }
    return 0;
}

// The first line of a message that is missing or too long: its row, its place in the message
// and ReadFlagValue's code. Empty when every line was read.
struct FieldError {
    const DeviceField* field = nullptr;
    int iLine = 0;
    int iRet = 0;
    explicit operator bool() const { return field != nullptr; }
};

// Read a message's lines in order up to the first that fails; the members of the lines before
// it are filled, the rest left as they were. A request's iCseq, szModel and szVerNum are set
// only when every line was read; a report's iEvent is the caller's.
FieldError ParseDeviceRequest(const std::string& text, DeviceRequest* out);
FieldError ParseDeviceReport(const std::string& text, DeviceReport* out);

// A device's messages as devices write them: the "Msg:" line, then the value lines in order,
// without the NUL a device sends after the text. A request's "Cseq:" is its iCseq.
std::string BuildDeviceRequest(const DeviceRequest& request);
std::string BuildDeviceReport(const DeviceReport& report);

// Reads the bytes between the first occurrence of `key` and the next CR LF into `value`.
// 0 read; -1 maxLen <= 0; -2 the value has maxLen bytes or more; -3 no CR LF after the key;
// -4 no key. On failure `value` is left as it was.
int ReadFlagValue(std::string& value, int maxLen, const std::string& msg, const std::string& key);

// Classifies a message by the start of its "Msg:" value, kMsgUnknown when nothing matches.
int GetMsgType(const std::string& msg);
// The report event of message type `type`; -1 when it is no report.
int ReportEventOfType(int type);

// Splits a device "Version:" value "model-version[-...]" into model (with '*' turned into
// '-') and version number, each cut to kMaxVersionPart characters. An empty text leaves both
// unchanged, and a text without a second field leaves the version number unchanged.
constexpr size_t kMaxVersionPart = 64;
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
