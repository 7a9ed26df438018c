#include "tftp/tftp_request.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "support/log.h"

namespace orvane {

namespace {

// One NUL-terminated string starting at `pos`; the end of the readable bytes counts as a NUL.
// Returns the position just past its terminator.
size_t TakeString(const uint8_t* data, size_t end, size_t pos, std::string* out) {
    const size_t start = std::min(pos, end);
    size_t stop = start;
    while (stop < end && data[stop] != 0) {
        ++stop;
    }
    out->assign(reinterpret_cast<const char*>(data) + start, stop - start);
    return stop + 1;
}

bool SameName(const std::string& a, const char* b) {
    return SameIgnoringCase(a, b);
}

// Appends name NUL value NUL when both fit; false (and nothing appended) otherwise.
bool AppendOption(TftpNegotiation* n, const std::string& name, const std::string& value) {
    size_t need = name.size() + 1 + value.size() + 1;
    if (n->optionLength + need > n->options.size()) {
        WriteLog(kLogGeneral, "Option <%s> left out: OACK full", name.c_str());
        return false;
    }
    uint8_t* p = n->options.data() + n->optionLength;
    std::memcpy(p, name.c_str(), name.size() + 1);
    std::memcpy(p + name.size() + 1, value.c_str(), value.size() + 1);
    n->optionLength += need;
    return true;
}

void NegotiateBlockSize(const TftpOption& opt, TftpNegotiation* n) {
    // Read as unsigned: "-1" wraps to a huge value and is answered with the largest size.
    unsigned long asked = std::strtoul(opt.value.c_str(), nullptr, 10);
    if (asked < kTftpMinBlockSize) {
        WriteLog(kLogInfo, "<%s> proposed by client %d, refused by Orvane", opt.name.c_str(),
                 static_cast<int>(asked));
        return;
    }
    uint32_t size = kTftpMaxBlockSize;
    if (asked > kTftpMaxBlockSize) {
        WriteLog(kLogInfo, "<%s> proposed by client %d, reply with %d", opt.name.c_str(),
                 static_cast<int>(asked), static_cast<int>(kTftpMaxBlockSize));
    } else {
        size = static_cast<uint32_t>(asked);
        WriteLog(kLogInfo, "<%s> changed to <%s>", opt.name.c_str(), opt.value.c_str());
    }
    if (AppendOption(n, opt.name, std::to_string(size))) {
        n->blockSize = size;
    }
}

void NegotiateTimeout(const TftpOption& opt, TftpNegotiation* n) {
    unsigned long seconds = std::strtoul(opt.value.c_str(), nullptr, 10);
    if (seconds < 1 || seconds > 255) {
        return;  // RFC 2349: 1..255; anything else is simply not acknowledged
    }
    WriteLog(kLogInfo, "<%s> changed to <%s>", opt.name.c_str(), opt.value.c_str());
    if (AppendOption(n, opt.name, opt.value)) {
        n->timeoutSeconds = static_cast<int>(seconds);
        n->timeoutTaken = true;
    }
}

void NegotiateTransferSize(const TftpOption& opt, bool isRead, TftpNegotiation* n) {
    std::string value = opt.value;
    if (isRead) {
        value = std::to_string(n->fileSize);
    }
    if (!AppendOption(n, opt.name, value)) {
        return;
    }
    if (!isRead) {
        n->fileSize = static_cast<uint32_t>(std::strtoul(opt.value.c_str(), nullptr, 10));
    }
    WriteLog(kLogInfo, "<%s> changed to <%u>", opt.name.c_str(), n->fileSize);
}

// RFC 7440: 1..65535 blocks; the answer may be smaller than asked, never larger. Anything else
// (0, a larger number, text) is left out of the OACK, so the transfer stays lock-step.
void NegotiateWindowSize(const TftpOption& opt, TftpNegotiation* n) {
    char* end = nullptr;
    const unsigned long asked = std::strtoul(opt.value.c_str(), &end, 10);
    if (opt.value.empty() || *end != '\0' || opt.value[0] == '-' || asked < 1 ||
        asked > kTftpMaxWindowSize) {
        WriteLog(kLogInfo, "<%s> proposed by client <%s>, refused by Orvane", opt.name.c_str(),
                 opt.value.c_str());
        return;
    }
    const uint32_t granted =
        std::min(static_cast<uint32_t>(asked), std::max<uint32_t>(n->maxWindow, 1));
    WriteLog(kLogInfo, "<%s> proposed by client %u, reply with %u", opt.name.c_str(),
             static_cast<unsigned>(asked), granted);
    if (AppendOption(n, opt.name, std::to_string(granted))) {
        n->windowSize = granted;
    }
}

}  // namespace

const char* TftpErrorText(int code) {
    switch (code) {
        case 1:
            return "File not found";
        case 2:
            return "Access violation";
        case 3:
            return "Disk full or allocation exceeded";
        case 4:
            return "Illegal TFTP operation";
        case 5:
            return "Unknown transfer ID";
        case 6:
            return "File already exists";
        case 7:
            return "No such user";
        case 99:
            return "Cancelled by administrator";
        default:
            return "Undefined error code";
    }
}

size_t BuildTftpError(uint8_t* buf, size_t cap, int code) {
    return BuildTftpError(buf, cap, code, TftpErrorText(code));
}

size_t BuildTftpError(uint8_t* buf, size_t cap, int code, const char* text) {
    size_t len = 5 + std::strlen(text);
    if (cap < len) {
        return 0;
    }
    buf[0] = 0;
    buf[1] = kTftpError;
    buf[2] = static_cast<uint8_t>((code >> 8) & 0xFF);
    buf[3] = static_cast<uint8_t>(code & 0xFF);
    std::memcpy(buf + 4, text, len - 4);
    return len;
}

TftpRequestFields SplitTftpRequest(const uint8_t* data, size_t length) {
    TftpRequestFields f;
    if (length < 2) {
        f.opcode = length == 1 ? data[0] << 8 : 0;
        return f;
    }
    f.opcode = (data[0] << 8) | data[1];
    const size_t end = std::min(length, kTftpRequestLimit);
    size_t pos = TakeString(data, end, 2, &f.fileName);
    pos = TakeString(data, end, pos, &f.mode);
    // Bounded by the readable bytes: every pass moves past at least one byte.
    while (pos < end) {
        if (data[pos] == 0) {
            ++pos;
            continue;
        }
        TftpOption opt;
        pos = TakeString(data, end, pos, &opt.name);
        if (pos > end) {
            break;  // a name without a value ends the list
        }
        pos = TakeString(data, end, pos, &opt.value);
        f.options.push_back(std::move(opt));
    }
    return f;
}

int TftpModeFromText(const std::string& mode) {
    if (SameName(mode, "octet") || SameName(mode, "binary")) {
        return kTftpModeOctet;
    }
    if (SameName(mode, "netascii") || SameName(mode, "ascii")) {
        return kTftpModeNetascii;
    }
    if (SameName(mode, "mail")) {
        return kTftpModeMail;
    }
    return -1;
}

bool SameIgnoringCase(const std::string& a, const std::string& b) {
    const auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) {
               return lower(static_cast<unsigned char>(x)) == lower(static_cast<unsigned char>(y));
           });
}

std::string NormaliseTftpName(std::string name) {
    std::replace(name.begin(), name.end(), '\\', '/');
    return name;
}

bool IsRefusedTftpName(const std::string& name) {
    return name.find("..") != std::string::npos || name.find("//") != std::string::npos;
}

std::string JoinTftpPath(const std::string& root, const std::string& name) {
    std::string full = root;
    if (!full.empty() && full.back() != '/') {
        full += '/';
    }
    size_t skip = 0;
    while (skip < name.size() && name[skip] == '/') {
        ++skip;
    }
    if (full.empty() && skip > 0) {
        full = "./";  // an empty root is the current folder, never "/"
    }
    return full + name.substr(skip);
}

void NegotiateTftpOptions(const std::vector<TftpOption>& options, bool isRead, TftpNegotiation* n) {
    bool seenBlockSize = false;
    bool seenTimeout = false;
    bool seenSize = false;
    bool seenWindow = false;
    for (const TftpOption& opt : options) {
        WriteLog(kLogDebug0, "Option is <%s>", opt.name.c_str());
        WriteLog(kLogDebug0, "Option <%s>: value <%s>", opt.name.c_str(), opt.value.c_str());
        if (SameName(opt.name, "blksize") && !seenBlockSize) {
            seenBlockSize = true;
            NegotiateBlockSize(opt, n);
        } else if (SameName(opt.name, "timeout") && !seenTimeout) {
            seenTimeout = true;
            NegotiateTimeout(opt, n);
        } else if (SameName(opt.name, "tsize") && !seenSize) {
            seenSize = true;
            NegotiateTransferSize(opt, isRead, n);
        } else if (SameName(opt.name, "windowsize") && !seenWindow) {
            seenWindow = true;
            NegotiateWindowSize(opt, n);
        }
    }
}

std::string PrintableOack(const uint8_t* options, size_t length) {
    std::string out(reinterpret_cast<const char*>(options), length);
    bool equals = true;
    for (char& c : out) {
        if (c == '\0') {
            c = equals ? '=' : ',';
            equals = !equals;
        }
    }
    return out;
}

}  // namespace orvane
