#include "tftp/tftp_open.h"

#include <cerrno>
#include <cstdint>
#include <string>
#include <vector>

#include "support/log.h"

namespace orvane {

namespace {

// Lines any host can cause at will: one a second at most, each kind.
LogRateLimit g_openFailedLines;
LogRateLimit g_unvouchedLines;

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
            if (SameIgnoringCase(at, o.real) || (exists && o.exists && id == o.id)) {
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

// Sets the refusal; always false.
bool Refuse(TftpRefusal* out, const TftpRefusal& refusal) {
    *out = refusal;
    return false;
}

// A file the signed list did not vouch for as it is now: another file under a vouched name, or
// a vouched file written since its check.
TftpRefusal RefuseUnvouched(const TftpTransfer& t, const std::string& fileName) {
    WriteLogLimited(g_unvouchedLines, kLogMajor,
                    "Error EACCESS on file %s: not the file the signed list vouched for",
                    fileName.c_str());
    // Told before the client hears: its row says why by the time it could ask again.
    if (t.settings->onRefused) {
        t.settings->onRefused(t.peer.Unmapped().NumericHost(), fileName);
    }
    return TftpRefusalOf(kTftpErrAccess);
}

// A missing file or a refused open: any host can ask for names at will.
void LogOpenFailed(const std::string& fileName, int err) {
    WriteLogLimited(g_openFailedLines, kLogMajor, "File <%s> : error %d in system call %s %s",
                    fileName.c_str(), err, "CreateFile", platform::SystemErrorText(err).c_str());
}

// Opens the temporary file of an upload beside the file it will replace.
bool OpenUpload(TftpTransfer& t, const TftpDecodedRequest& r, const std::string& realRoot,
                TftpRefusal* refusal) {
    // Never create a file through a linked folder that leads out of the root: checked before
    // the temporary file is made, and again on the folder it was made in.
    const std::string& fullName = r.fullName;
    size_t slash = fullName.rfind('/');
    std::string parent = slash == std::string::npos ? "." : fullName.substr(0, slash + 1);
    std::string realParent = platform::RealPath(parent);
    if (!realParent.empty() && !platform::IsPathInsideRoot(realRoot, realParent)) {
        return Refuse(refusal, RefuseTftpAccess(r.fileName, EACCES));
    }
    if (!realParent.empty() && IsOwnFile(t.settings->protectedPaths,
                                         InRealFolder(realParent, fullName.substr(slash + 1)))) {
        return Refuse(refusal, RefuseTftpOwnFile(r.fileName, r.opcode));
    }
    if (!t.upload.Open(fullName)) {
        LogOpenFailed(r.fileName, t.upload.LastError());
        return Refuse(refusal, TftpRefusalOf(kTftpErrAccess));
    }
    if (!platform::IsPathInsideRoot(realRoot, t.upload.RealFolder())) {
        t.upload.Discard();
        return Refuse(refusal, RefuseTftpAccess(r.fileName, EACCES));
    }
    return true;
}

}  // namespace

bool OpenTftpFile(TftpTransfer& t, const TftpDecodedRequest& r, TftpRefusal* refusal) {
    const std::string& root = t.settings->root;
    const std::string realRoot = platform::RealPath(root.empty() ? "." : root);
    if (r.opcode != kTftpRrq) {
        return OpenUpload(t, r, realRoot, refusal);
    }
    if (!t.file.OpenRead(r.fullName)) {
        LogOpenFailed(r.fileName, t.file.LastError());
        return Refuse(refusal, TftpRefusalOf(kTftpErrNotFound));
    }
    std::string realFile = t.file.RealPath();
    if (realFile.empty()) {
        realFile = platform::RealPath(r.fullName);
    }
    if (!platform::IsPathInsideRoot(realRoot, realFile)) {
        t.file.Close();
        return Refuse(refusal, RefuseTftpAccess(r.fileName, EACCES));
    }
    if (IsOwnFile(t.settings->protectedPaths, realFile)) {
        t.file.Close();
        return Refuse(refusal, RefuseTftpOwnFile(r.fileName, r.opcode));
    }
    int64_t size = t.file.Size();
    if (size < 0 || size >= platform::kMaxServedFileSize) {
        WriteLog(kLogMajor, "File <%s> : %lld bytes, files of 2 GiB or more are not served",
                 r.fileName.c_str(), static_cast<long long>(size));
        t.file.Close();
        return Refuse(refusal, TftpRefusalOf(kTftpErrUndefined));
    }
    platform::FileVersion version;
    if (t.settings->vouched &&
        !(t.file.Version(&version) && t.settings->vouched->Allows(version))) {
        t.file.Close();
        return Refuse(refusal, RefuseUnvouched(t, r.fileName));
    }
    t.fileSize = static_cast<uint32_t>(size);
    return true;
}

}  // namespace orvane
