#include "tftp/tftp_decode.h"

#include <strings.h>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "support/log.h"
#include "tftp/tftp_steps.h"

namespace orvane {

namespace {

// Lines any host can cause at will: one a second at most, each kind.
LogRateLimit g_ownFileLines;
LogRateLimit g_controlNameLines;
LogRateLimit g_accessLines;
LogRateLimit g_openFailedLines;
LogRateLimit g_badOpcodeLines;
LogRateLimit g_badOpcodeAnswerLines;
LogRateLimit g_longNameLines;
LogRateLimit g_badModeLines;
LogRateLimit g_refusedNameLines;
LogRateLimit g_unvouchedLines;

// Refuses a name or a path that leaves the root.
TftpDecodeResult RefuseAccess(TftpTransfer& t, int err) {
    WriteLogLimited(g_accessLines, kLogGeneral, "Error EACCESS on file %s. Ext error %s",
                    t.fileName.c_str(), platform::SystemErrorText(err).c_str());
    SendTftpError(t, kTftpErrAccess);
    return TftpDecodeResult::kAnswered;
}

TftpDecodeResult Answer(TftpTransfer& t, int code) {
    SendTftpError(t, code);
    return TftpDecodeResult::kAnswered;
}

// `name` in the canonical folder `realFolder`.
std::string InRealFolder(const std::string& realFolder, const std::string& name) {
    return realFolder + (realFolder == "/" ? "" : "/") + name;
}

// Whether `realPath` (canonical: the file a read opened, or the folder and name an upload
// would put in place) is one of the program's own files or lies in one of its folders. Names
// are compared in any letter case and by identity, so a link, a hard link or a case-folding
// file system does not lead around it; a protected file that does not exist yet (the log's
// rotated copy) is compared by its folder and name.
bool IsOwnFile(const std::vector<std::string>& protectedPaths, const std::string& realPath) {
    struct Own {
        std::string real;
        platform::FileIdentity id;
        bool exists;
    };
    std::vector<Own> own;
    for (const std::string& p : protectedPaths) {
        Own o{platform::RealPath(p), {}, false};
        if (o.real.empty()) {
            const size_t slash = p.rfind('/');
            const std::string folder = slash == std::string::npos ? "." : p.substr(0, slash + 1);
            const std::string realFolder = platform::RealPath(folder);
            if (realFolder.empty()) {
                continue;
            }
            o.real = InRealFolder(realFolder, p.substr(slash + 1));
        } else {
            o.exists = platform::IdentifyFile(o.real, &o.id);
        }
        own.push_back(o);
    }
    // The path itself, then each folder above it: a protected folder covers what lies beneath.
    std::string at = realPath;
    while (at.size() > 1) {
        platform::FileIdentity id;
        const bool exists = platform::IdentifyFile(at, &id);
        for (const Own& o : own) {
            if (strcasecmp(at.c_str(), o.real.c_str()) == 0 || (exists && o.exists && id == o.id)) {
                return true;
            }
        }
        // Either separator: a Windows path has backslashes up to the name the request added; with
        // none left the walk is over (substr of npos would keep the path, and loop forever).
        const size_t separator = at.find_last_of("/\\");
        if (separator == std::string::npos) {
            break;
        }
        at.resize(separator);
    }
    return false;
}

TftpDecodeResult RefuseOwnFile(TftpTransfer& t) {
    WriteLogLimited(g_ownFileLines, kLogGeneral,
                    "Error EACCESS on file %s: the program's own file is never %s",
                    t.fileName.c_str(), t.opcode == kTftpRrq ? "served" : "replaced");
    SendTftpError(t, kTftpErrAccess);
    return TftpDecodeResult::kAnswered;
}

// A file the signed list did not vouch for as it is now: another file under a vouched name, or
// a vouched file written since its check.
bool RefuseUnvouched(TftpTransfer& t) {
    WriteLogLimited(g_unvouchedLines, kLogMajor,
                    "Error EACCESS on file %s: not the file the signed list vouched for",
                    t.fileName.c_str());
    // Told before the client hears: its row says why by the time it could ask again.
    if (t.settings->onRefused) {
        t.settings->onRefused(t.peer.Unmapped().NumericHost(), t.fileName);
    }
    SendTftpError(t, kTftpErrAccess);
    return false;
}

// A missing file or a refused open: any host can ask for names at will.
void LogOpenFailed(const TftpTransfer& t, int err) {
    WriteLogLimited(g_openFailedLines, kLogMajor, "File <%s> : error %d in system call %s %s",
                    t.fileName.c_str(), err, "CreateFile", platform::SystemErrorText(err).c_str());
}

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

// Opens the temporary file of an upload beside the file it will replace; false when the
// client has been answered with an ERROR.
bool OpenUpload(TftpTransfer& t, const std::string& fullName, const std::string& realRoot) {
    // Never create a file through a linked folder that leads out of the root: checked before
    // the temporary file is made, and again on the folder it was made in.
    size_t slash = fullName.rfind('/');
    std::string parent = slash == std::string::npos ? "." : fullName.substr(0, slash + 1);
    std::string realParent = platform::RealPath(parent);
    if (!realParent.empty() && !platform::IsPathInsideRoot(realRoot, realParent)) {
        RefuseAccess(t, EACCES);
        return false;
    }
    if (!realParent.empty() && IsOwnFile(t.settings->protectedPaths,
                                         InRealFolder(realParent, fullName.substr(slash + 1)))) {
        RefuseOwnFile(t);
        return false;
    }
    if (!t.upload.Open(fullName)) {
        LogOpenFailed(t, t.upload.LastError());
        SendTftpError(t, kTftpErrAccess);
        return false;
    }
    if (!platform::IsPathInsideRoot(realRoot, t.upload.RealFolder())) {
        t.upload.Discard();
        RefuseAccess(t, EACCES);
        return false;
    }
    return true;
}

// Opens the file the request names; false when the client has been answered with an ERROR.
bool OpenRequestedFile(TftpTransfer& t, const std::string& fullName) {
    const std::string& root = t.settings->root;
    const std::string realRoot = platform::RealPath(root.empty() ? "." : root);
    if (t.opcode != kTftpRrq) {
        return OpenUpload(t, fullName, realRoot);
    }
    if (!t.file.OpenRead(fullName)) {
        LogOpenFailed(t, t.file.LastError());
        SendTftpError(t, kTftpErrNotFound);
        return false;
    }
    std::string realFile = t.file.RealPath();
    if (realFile.empty()) {
        realFile = platform::RealPath(fullName);
    }
    if (!platform::IsPathInsideRoot(realRoot, realFile)) {
        t.file.Close();
        RefuseAccess(t, EACCES);
        return false;
    }
    if (IsOwnFile(t.settings->protectedPaths, realFile)) {
        t.file.Close();
        RefuseOwnFile(t);
        return false;
    }
    int64_t size = t.file.Size();
    if (size < 0 || size >= platform::kMaxServedFileSize) {
        WriteLog(kLogMajor, "File <%s> : %lld bytes, files of 2 GiB or more are not served",
                 t.fileName.c_str(), static_cast<long long>(size));
        SendTftpError(t, kTftpErrUndefined);
        return false;
    }
    platform::FileVersion version;
    if (t.settings->vouched &&
        !(t.file.Version(&version) && t.settings->vouched->Allows(version))) {
        t.file.Close();
        return RefuseUnvouched(t);
    }
    t.fileSize = static_cast<uint32_t>(size);
    return true;
}

}  // namespace

TftpDecodeResult DecodeTftpRequest(TftpTransfer& t) {
    const TftpRequestFields f =
        SplitTftpRequest(t.request.data(), std::min(t.requestLength, t.request.size()));
    t.opcode = f.opcode;
    if (f.opcode != kTftpRrq && f.opcode != kTftpWrq) {
        WriteLogLimited(g_badOpcodeLines, kLogMajor, "Unexpected request %d from peer", f.opcode);
        WriteLogLimited(g_badOpcodeAnswerLines, kLogMajor, "Returning EBADOP to Peer");
        return Answer(t, kTftpErrIllegal);
    }
    t.fileName = f.fileName;
    if (f.fileName.size() >= kTftpMaxPath) {
        WriteLogLimited(g_longNameLines, kLogMajor, "File name too long, return EBADOP to peer");
        return Answer(t, kTftpErrIllegal);
    }
    if (f.fileName.find('%') != std::string::npos) {
        WriteLogLimited(g_refusedNameLines, kLogGeneral,
                        "Error: Orvane does not handle filenames with a percent sign");
        return Answer(t, kTftpErrAccess);
    }
    WriteLog(kLogInfo, "FileName is <%s>", f.fileName.c_str());
    t.mode = TftpModeFromText(f.mode);
    if (t.mode < 0) {
        WriteLogLimited(g_badModeLines, kLogMajor, "Uncorrect message");
        return Answer(t, kTftpErrIllegal);
    }
    const bool isRead = f.opcode == kTftpRrq;
    WriteLog(kLogInfo, "Mode is <%s>", f.mode.c_str());
    WriteLog(kLogInfo, "%s request for file <%s>. Mode %s", isRead ? "Read" : "Write",
             f.fileName.c_str(), f.mode.c_str());
    if (!isRead && !t.settings->writeAllowed) {
        WriteLogLimited(g_refusedNameLines, kLogGeneral,
                        "Write request for file <%s> refused: uploads are turned off",
                        f.fileName.c_str());
        return Answer(t, kTftpErrAccess);
    }

    // A name with control bytes would be offered to devices and shown as it is.
    if (!isRead && HasControlBytes(f.fileName)) {
        WriteLogLimited(g_controlNameLines, kLogGeneral,
                        "Write request for file <%s> refused: control character in the name",
                        f.fileName.c_str());
        return Answer(t, kTftpErrAccess);
    }

    t.fileName = NormaliseTftpName(f.fileName);
    if (IsRefusedTftpName(t.fileName)) {
        return RefuseAccess(t, ENOTDIR);
    }
    if (platform::IsReservedPathName(t.fileName)) {
        return RefuseAccess(t, EINVAL);  // a device, a stream, or a name the system would alter
    }
    if (platform::IsProgramTempName(BaseName(t.fileName))) {
        return RefuseOwnFile(t);  // an upload's or download's file before it takes its place
    }
    const std::string fullName = JoinTftpPath(t.settings->root, t.fileName);
    WriteLog(kLogInfo, "final name : <%s>", fullName.c_str());
    if (fullName.size() >= kTftpMaxPath) {
        WriteLogLimited(g_longNameLines, kLogMajor, "File name too long, return EBADOP to peer");
        return Answer(t, kTftpErrIllegal);
    }
    if (!OpenRequestedFile(t, fullName)) {
        return TftpDecodeResult::kAnswered;
    }

    TftpNegotiation n;
    n.timeoutSeconds = t.timeoutSeconds;
    n.fileSize = t.fileSize;
    n.maxWindow = t.settings->maxWindow;
    NegotiateTftpOptions(f.options, isRead, &n);
    t.blockSize = n.blockSize;
    t.windowSize = n.windowSize;
    t.timeoutSeconds = n.timeoutSeconds;
    // A client that asked its own time-out gets exactly that schedule, not measured waits.
    t.adaptiveWaits = !n.timeoutTaken;
    t.fileSize = n.fileSize;
    t.control[0] = 0;  // opcode, 16 bits big-endian
    t.control[1] = kTftpOack;
    std::memcpy(t.control.data() + 2, n.options.data(), n.optionLength);
    t.oackLength = n.optionLength;

    const bool oack = n.optionLength > 0;
    t.awaitedBlock = isRead && !oack ? 1 : 0;
    t.blockCount = t.fileSize / t.blockSize + 1;
    if (!oack) {
        return isRead ? TftpDecodeResult::kRead : TftpDecodeResult::kWrite;
    }
    WriteLog(kLogDebug0, "OACK: <%s>", PrintableOack(n.options.data(), n.optionLength).c_str());
    WriteLog(kLogDebug0, "Size of OACK string : <%d>", static_cast<int>(n.optionLength));
    return isRead ? TftpDecodeResult::kReadWithOack : TftpDecodeResult::kWriteWithOack;
}

}  // namespace orvane
