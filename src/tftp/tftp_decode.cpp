#include "tftp/tftp_decode.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "support/log.h"
#include "tftp/tftpd_proc.h"

namespace orvane {

namespace {

// Refuses a name or a path that leaves the root.
TftpDecodeResult RefuseAccess(TftpTransfer& t, int err) {
    WriteLog(kLogGeneral, "Error EACCESS on file %s. Ext error %s", t.fileName.c_str(),
             platform::SystemErrorText(err).c_str());
    SendTftpError(t, kTftpErrAccess);
    return TftpDecodeResult::kAnswered;
}

TftpDecodeResult Answer(TftpTransfer& t, int code) {
    SendTftpError(t, code);
    return TftpDecodeResult::kAnswered;
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
    if (!t.upload.Open(fullName)) {
        t.LogSystemCall(t.upload.LastError(), "CreateFile");
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
        t.LogSystemCall(t.file.LastError(), "CreateFile");
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
    int64_t size = t.file.Size();
    if (size < 0 || size >= platform::kMaxServedFileSize) {
        WriteLog(kLogMajor, "File <%s> : %lld bytes, files of 2 GiB or more are not served",
                 t.fileName.c_str(), static_cast<long long>(size));
        SendTftpError(t, kTftpErrUndefined);
        return false;
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
        WriteLog(kLogMajor, "Unexpected request %d from peer", f.opcode);
        WriteLog(kLogMajor, "Returning EBADOP to Peer");
        return Answer(t, kTftpErrIllegal);
    }
    t.fileName = f.fileName;
    if (f.fileName.size() >= kTftpMaxPath) {
        WriteLog(kLogMajor, "File name too long, return EBADOP to peer");
        return Answer(t, kTftpErrIllegal);
    }
    if (f.fileName.find('%') != std::string::npos) {
        WriteLog(kLogGeneral, "Error: Orvane does not handle filenames with a percent sign");
        return Answer(t, kTftpErrAccess);
    }
    WriteLog(kLogInfo, "FileName is <%s>", f.fileName.c_str());
    t.mode = TftpModeFromText(f.mode);
    if (t.mode < 0) {
        WriteLog(kLogMajor, "Uncorrect message");
        return Answer(t, kTftpErrIllegal);
    }
    const bool isRead = f.opcode == kTftpRrq;
    WriteLog(kLogInfo, "Mode is <%s>", f.mode.c_str());
    WriteLog(kLogInfo, "%s request for file <%s>. Mode %s", isRead ? "Read" : "Write",
             f.fileName.c_str(), f.mode.c_str());
    if (!isRead && !t.settings->writeAllowed) {
        WriteLog(kLogGeneral, "Write request for file <%s> refused: uploads are turned off",
                 f.fileName.c_str());
        return Answer(t, kTftpErrAccess);
    }

    t.fileName = NormaliseTftpName(f.fileName);
    if (IsRefusedTftpName(t.fileName)) {
        return RefuseAccess(t, ENOTDIR);
    }
    const std::string fullName = JoinTftpPath(t.settings->root, t.fileName);
    WriteLog(kLogInfo, "final name : <%s>", fullName.c_str());
    if (fullName.size() >= kTftpMaxPath) {
        WriteLog(kLogMajor, "File name too long, return EBADOP to peer");
        return Answer(t, kTftpErrIllegal);
    }
    if (!OpenRequestedFile(t, fullName)) {
        return TftpDecodeResult::kAnswered;
    }

    TftpNegotiation n;
    n.timeoutSeconds = t.timeoutSeconds;
    n.fileSize = t.fileSize;
    NegotiateTftpOptions(f.options, isRead, &n);
    t.blockSize = n.blockSize;
    t.timeoutSeconds = n.timeoutSeconds;
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
