#include "protocol/device_message.h"

#include <cctype>
#include <climits>
#include <cstdio>
#include <vector>

namespace orvane {

namespace {

constexpr const char* kMsgKey = "Msg:";
constexpr const char* kLineEnd = "\r\n";
constexpr size_t kReplyBuffer = 1024;

std::string Truncated(std::string s, size_t maxLen) {
    if (s.size() > maxLen) {
        s.resize(maxLen);
    }
    return s;
}

// Calls fn(row, place) for each line of a message in the order of its places, until fn
// returns false.
template <typename Message, typename Fn>
void ForEachLine(FieldPlace<Message> DeviceField::*place, Fn fn) {
    for (int line = 1; line <= static_cast<int>(kDeviceFields.size()); ++line) {
        for (const DeviceField& field : kDeviceFields) {
            if ((field.*place).iLine == line && !fn(field, field.*place)) {
                return;
            }
        }
    }
}

template <typename Message>
FieldError ReadLines(const std::string& text, FieldPlace<Message> DeviceField::*place,
                     Message* out) {
    FieldError error;
    ForEachLine(place, [&](const DeviceField& field, const FieldPlace<Message>& at) {
        const int ret = ReadFlagValue(out->*at.member, field.iLimit, text, field.szKey);
        if (ret != 0) {
            error = FieldError{&field, at.iLine, ret};
        }
        return ret == 0;
    });
    return error;
}

template <typename Message>
std::string WriteLines(const char* keyword, FieldPlace<Message> DeviceField::*place,
                       const Message& message) {
    std::string text = std::string(kMsgKey) + keyword + kLineEnd;
    ForEachLine(place, [&](const DeviceField& field, const FieldPlace<Message>& at) {
        text += field.szKey;
        text += message.*at.member;
        text += kLineEnd;
        return true;
    });
    return text;
}

}  // namespace

FieldError ParseDeviceRequest(const std::string& text, DeviceRequest* out) {
    const FieldError error = ReadLines(text, &DeviceField::request, out);
    if (!error) {
        out->iCseq = ProtocolAtoi(out->szCseq);
        SplitVersion(out->szVersion, out->szModel, out->szVerNum);
    }
    return error;
}

FieldError ParseDeviceReport(const std::string& text, DeviceReport* out) {
    return ReadLines(text, &DeviceField::report, out);
}

std::string BuildDeviceRequest(const DeviceRequest& request) {
    DeviceRequest sent = request;
    sent.szCseq = std::to_string(request.iCseq);
    return WriteLines(kRequestKeyword, &DeviceField::request, sent);
}

std::string BuildDeviceReport(const DeviceReport& report) {
    const ReportStage* stage = FindReportStage(report.iEvent);
    return WriteLines(stage ? stage->szKeyword : "", &DeviceField::report, report);
}

int ReadFlagValue(std::string& value, int maxLen, const std::string& msg, const std::string& key) {
    if (maxLen <= 0) {
        return -1;
    }
    size_t at = msg.find(key);
    if (at == std::string::npos) {
        return -4;
    }
    size_t begin = at + key.size();
    size_t end = msg.find(kLineEnd, begin);
    if (end == std::string::npos) {
        return -3;
    }
    if (end - begin >= static_cast<size_t>(maxLen)) {
        return -2;
    }
    value = msg.substr(begin, end - begin);
    return 0;
}

int GetMsgType(const std::string& msg) {
    size_t at = msg.find(kMsgKey);
    if (at == std::string::npos) {
        return kMsgUnknown;
    }
    size_t begin = at + 4;
    size_t end = msg.find(kLineEnd, begin);
    if (end == std::string::npos) {
        return kMsgUnknown;
    }
    // Only the first kMaxMsgWord bytes of the word matter; no keyword is longer.
    std::string word = msg.substr(begin, std::min<size_t>(end - begin, kMaxMsgWord));
    if (word.compare(0, std::char_traits<char>::length(kRequestKeyword), kRequestKeyword) == 0) {
        return kMsgRequestIpaddr;
    }
    for (int event = 0; event < kReportStageCount; ++event) {
        const char* keyword = kReportStages[event].szKeyword;
        if (word.compare(0, std::char_traits<char>::length(keyword), keyword) == 0) {
            return event + 1;
        }
    }
    return kMsgUnknown;
}

int ReportEventOfType(int type) {
    return type > kMsgRequestIpaddr && type <= kReportStageCount ? type - 1 : -1;
}

void SplitVersion(const std::string& version, std::string& model, std::string& verNum) {
    if (version.empty()) {
        return;
    }
    std::vector<std::string> fields;
    size_t start = 0;
    while (start < version.size() && fields.size() < 4) {
        size_t dash = version.find('-', start);
        if (dash == std::string::npos) {
            fields.push_back(version.substr(start));
            break;
        }
        fields.push_back(version.substr(start, dash - start));
        start = dash + 1;
    }
    if (fields.empty()) {
        return;
    }
    model = Truncated(fields[0], kMaxVersionPart);
    if (fields.size() >= 2) {
        verNum = Truncated(fields[1], kMaxVersionPart);
    }
    for (char& c : model) {
        if (c == '*') {
            c = '-';
        }
    }
}

int ProtocolAtoi(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    // Accumulate in 64 bits and saturate, so a hostile 15-digit Cseq cannot overflow.
    long long v = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        v = v * 10 + (text[i] - '0');
        if (v > static_cast<long long>(INT_MAX) + 1) {
            v = static_cast<long long>(INT_MAX) + 1;
        }
    }
    if (negative) {
        v = -v;
    }
    if (v > INT_MAX) {
        v = INT_MAX;
    }
    return static_cast<int>(v);
}

std::string BuildAssignReply(const AssignReply& r) {
    char buf[kReplyBuffer];
    // Cseq + 1 in 64 bits: a device sending INT_MAX gets 2147483648 rather than a wrap.
    std::snprintf(buf, sizeof buf,
                  "%s%s\r\n%s%lld\r\n%s%s\r\n%s%s\r\n%s%s\r\n%s%s\r\n%s%s\r\n%s%s\r\n",
                  "Msg:", kRequestKeyword, "Cseq:", static_cast<long long>(r.iCseq) + 1,
                  "ServerMac:", r.szLocalMac.c_str(), "ServerIP:", r.szLocalIP.c_str(),
                  "Ipaddr:", r.szNewIp.c_str(), "IPCMac:", r.szIpcMac.c_str(),
                  "Version:", r.szVersion.c_str(), "FilePath:", r.szFileName.c_str());
    return buf;
}

std::string BuildNoNewVersionReply(int iCseq, const std::string& szIpcMac) {
    char buf[kReplyBuffer];
    std::snprintf(buf, sizeof buf, "%s%s\r\n%s%lld\r\n%s%s\r\n", "Msg:", kRequestKeyword,
                  "Cseq:", static_cast<long long>(iCseq) + 1, "IPCMac:", szIpcMac.c_str());
    return buf;
}

}  // namespace orvane
