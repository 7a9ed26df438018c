#include "tftp/tftp_decode.h"

#include <algorithm>
#include <cerrno>
#include <string>
#include <utility>

#include "platform/file.h"
#include "support/log.h"

namespace orvane {

namespace {

// Lines any host can cause at will: one a second at most, each kind.
LogRateLimit g_ownFileLines;
LogRateLimit g_controlNameLines;
LogRateLimit g_accessLines;
LogRateLimit g_badOpcodeLines;
LogRateLimit g_badOpcodeAnswerLines;
LogRateLimit g_longNameLines;
LogRateLimit g_badModeLines;
LogRateLimit g_refusedNameLines;

// The last part of a normalised name.
std::string BaseName(const std::string& name) {
    const size_t slash = name.rfind('/');
    return slash == std::string::npos ? name : name.substr(slash + 1);
}

bool HasControlBytes(const std::string& name) {
    return std::any_of(name.begin(), name.end(), [](char c) {
        const auto b = static_cast<unsigned char>(c);
        return b < 0x20 || b == 0x7F;
    });
}

// Marks the request refused; always false.
bool Refuse(TftpDecodedRequest& r, const TftpRefusal& refusal) {
    r.refused = true;
    r.refusal = refusal;
    return false;
}

// The checks of the name under the root, once the opcode and the mode are known good; false
// when the request is refused.
bool CheckName(TftpDecodedRequest& r, const std::string& asked, const TftpSettings& settings) {
    const bool isRead = r.opcode == kTftpRrq;
    if (!isRead && !settings.writeAllowed) {
        WriteLogLimited(g_refusedNameLines, kLogGeneral,
                        "Write request for file <%s> refused: uploads are turned off",
                        asked.c_str());
        return Refuse(r, TftpRefusalOf(kTftpErrAccess));
    }
    // A name with control bytes would be offered to devices and shown as it is.
    if (!isRead && HasControlBytes(asked)) {
        WriteLogLimited(g_controlNameLines, kLogGeneral,
                        "Write request for file <%s> refused: control character in the name",
                        asked.c_str());
        return Refuse(r, TftpRefusalOf(kTftpErrAccess));
    }
    r.fileName = NormaliseTftpName(asked);
    if (IsRefusedTftpName(r.fileName)) {
        return Refuse(r, RefuseTftpAccess(r.fileName, ENOTDIR));
    }
    if (platform::IsReservedPathName(r.fileName)) {
        // a device, a stream, or a name the system would alter
        return Refuse(r, RefuseTftpAccess(r.fileName, EINVAL));
    }
    if (platform::IsProgramTempName(BaseName(r.fileName))) {
        // an upload's or download's file before it takes its place
        return Refuse(r, RefuseTftpOwnFile(r.fileName, r.opcode));
    }
    r.fullName = JoinTftpPath(settings.root, r.fileName);
    WriteLog(kLogInfo, "final name : <%s>", r.fullName.c_str());
    if (r.fullName.size() >= kTftpMaxPath) {
        WriteLogLimited(g_longNameLines, kLogMajor, "File name too long, return EBADOP to peer");
        return Refuse(r, TftpRefusalOf(kTftpErrIllegal));
    }
    return true;
}

// The opcode, the name's length and letters, the mode; false when the request is refused.
bool CheckOpcodeAndMode(const TftpRequestFields& f, TftpDecodedRequest& r) {
    if (f.opcode != kTftpRrq && f.opcode != kTftpWrq) {
        WriteLogLimited(g_badOpcodeLines, kLogMajor, "Unexpected request %d from peer", f.opcode);
        WriteLogLimited(g_badOpcodeAnswerLines, kLogMajor, "Returning EBADOP to Peer");
        return Refuse(r, TftpRefusalOf(kTftpErrIllegal));
    }
    if (f.fileName.size() >= kTftpMaxPath) {
        WriteLogLimited(g_longNameLines, kLogMajor, "File name too long, return EBADOP to peer");
        return Refuse(r, TftpRefusalOf(kTftpErrIllegal));
    }
    if (f.fileName.find('%') != std::string::npos) {
        WriteLogLimited(g_refusedNameLines, kLogGeneral,
                        "Error: Orvane does not handle filenames with a percent sign");
        return Refuse(r, TftpRefusalOf(kTftpErrAccess));
    }
    WriteLog(kLogInfo, "FileName is <%s>", f.fileName.c_str());
    r.mode = TftpModeFromText(f.mode);
    if (r.mode < 0) {
        WriteLogLimited(g_badModeLines, kLogMajor, "Uncorrect message");
        return Refuse(r, TftpRefusalOf(kTftpErrIllegal));
    }
    WriteLog(kLogInfo, "Mode is <%s>", f.mode.c_str());
    WriteLog(kLogInfo, "%s request for file <%s>. Mode %s", f.opcode == kTftpRrq ? "Read" : "Write",
             f.fileName.c_str(), f.mode.c_str());
    return true;
}

}  // namespace

TftpRefusal TftpRefusalOf(int code) {
    return TftpRefusal{code, TftpErrorText(code)};
}

TftpRefusal RefuseTftpAccess(const std::string& fileName, int err) {
    WriteLogLimited(g_accessLines, kLogGeneral, "Error EACCESS on file %s. Ext error %s",
                    fileName.c_str(), platform::SystemErrorText(err).c_str());
    return TftpRefusalOf(kTftpErrAccess);
}

TftpRefusal RefuseTftpOwnFile(const std::string& fileName, int opcode) {
    WriteLogLimited(g_ownFileLines, kLogGeneral,
                    "Error EACCESS on file %s: the program's own file is never %s",
                    fileName.c_str(), opcode == kTftpRrq ? "served" : "replaced");
    return TftpRefusalOf(kTftpErrAccess);
}

TftpDecodedRequest DecodeTftpRequest(const uint8_t* data, size_t length,
                                     const TftpSettings& settings) {
    TftpRequestFields f = SplitTftpRequest(data, length);
    TftpDecodedRequest r;
    r.opcode = f.opcode;
    r.fileName = f.fileName;
    if (CheckOpcodeAndMode(f, r)) {
        r.options = std::move(f.options);
        CheckName(r, f.fileName, settings);
    }
    return r;
}

TftpNegotiation NegotiateTftpRequest(const TftpDecodedRequest& request, uint32_t fileSize,
                                     int timeoutSeconds, uint32_t maxWindow) {
    TftpNegotiation n;
    n.timeoutSeconds = timeoutSeconds;
    n.fileSize = fileSize;
    n.maxWindow = maxWindow;
    NegotiateTftpOptions(request.options, request.opcode == kTftpRrq, &n);
    if (n.optionLength > 0) {
        WriteLog(kLogDebug0, "OACK: <%s>", PrintableOack(n.options.data(), n.optionLength).c_str());
        WriteLog(kLogDebug0, "Size of OACK string : <%d>", static_cast<int>(n.optionLength));
    }
    return n;
}

}  // namespace orvane
