#include "tools/devsim/server_reply.h"

#include <cstring>
#include <utility>
#include <vector>

namespace orvane::devsim {

namespace {

struct Line {
    std::string szKey;  // with its colon
    std::string szValue;
};

const std::vector<std::string> kShortKeys = {"Msg:", "Cseq:", "IPCMac:"};
const std::vector<std::string> kLongKeys = {
    "Msg:", "Cseq:", "ServerMac:", "ServerIP:", "Ipaddr:", "IPCMac:", "Version:", "FilePath:"};

bool SplitLines(const std::string& text, std::vector<Line>* lines, std::string* error) {
    for (size_t at = 0; at < text.size();) {
        const size_t end = text.find("\r\n", at);
        const size_t colon = text.find(':', at);
        if (end == std::string::npos) {
            *error = "bytes after the last CR LF";
            return false;
        }
        if (colon == std::string::npos || colon > end) {
            *error = "a line without a key at byte " + std::to_string(at);
            return false;
        }
        lines->push_back(
            Line{text.substr(at, colon + 1 - at), text.substr(colon + 1, end - colon - 1)});
        at = end + 2;
    }
    return true;
}

// An optional minus and 1 to 18 digits: more cannot come from a 32-bit Cseq plus one.
bool ReadDecimal(const std::string& text, long long* value) {
    const size_t sign = !text.empty() && text[0] == '-' ? 1 : 0;
    const size_t digits = text.size() - sign;
    if (digits == 0 || digits > 18 ||
        text.find_first_not_of("0123456789", sign) != std::string::npos) {
        return false;
    }
    long long v = 0;
    for (size_t i = sign; i < text.size(); ++i) {
        v = v * 10 + (text[i] - '0');
    }
    *value = sign ? -v : v;
    return true;
}

}  // namespace

bool ReadServerReply(const char* data, size_t len, ServerReply* out, std::string* error) {
    if (len == 0 || data[len - 1] != '\0' || std::memchr(data, '\0', len - 1) != nullptr) {
        *error = "not a text followed by one NUL";
        return false;
    }
    std::vector<Line> lines;
    if (!SplitLines(std::string(data, len - 1), &lines, error)) {
        return false;
    }
    std::vector<std::string> keys;
    for (const Line& line : lines) {
        keys.push_back(line.szKey);
    }
    ServerReply r;
    r.bAssignment = keys == kLongKeys;
    if (!r.bAssignment && keys != kShortKeys) {
        *error = "not the lines of a reply";
        return false;
    }
    if (lines[0].szValue != "Request_ipaddr") {
        *error = "Msg:" + lines[0].szValue;
        return false;
    }
    if (!ReadDecimal(lines[1].szValue, &r.iCseq)) {
        *error = "Cseq:" + lines[1].szValue;
        return false;
    }
    if (r.bAssignment) {
        r.szServerMac = lines[2].szValue;
        r.szServerIp = lines[3].szValue;
        r.szIpaddr = lines[4].szValue;
        r.szIpcMac = lines[5].szValue;
        r.szVersion = lines[6].szValue;
        r.szFilePath = lines[7].szValue;
    } else {
        r.szIpcMac = lines[2].szValue;
    }
    *out = std::move(r);
    return true;
}

}  // namespace orvane::devsim
