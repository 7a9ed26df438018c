#include "platform/file.h"

#include <fcntl.h>
#include <limits.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

#include "platform/launcher_path.h"

namespace orvane::platform {

namespace {

// Opens `path` only when it is a regular file. Non-blocking while it looks, so that a pipe
// without a writer cannot hold the caller; blocking again once accepted. -1 and *error set
// (EISDIR, EINVAL for anything else that is not a regular file) on failure.
int OpenRegularFile(const std::string& path, int flags, int* error) {
    int fd = ::open(path.c_str(), flags | O_CLOEXEC | O_NONBLOCK, 0644);
    if (fd < 0) {
        *error = errno;
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        *error = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        ::close(fd);
        return -1;
    }
    // Back to blocking, keeping O_APPEND, which F_SETFL would clear too.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

// Writes all `len` bytes, resuming after signals and short writes. False with *error set
// (ENOSPC when the system wrote nothing without saying why) on failure.
bool WriteAll(int fd, const void* data, size_t len, int* error) {
    const char* p = static_cast<const char*>(data);
    while (len > 0) {
        ssize_t n = ::write(fd, p, len);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            *error = n < 0 ? errno : ENOSPC;
            return false;
        }
        p += n;
        len -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

AppendFile::~AppendFile() {
    Close();
}

bool AppendFile::OpenAlways(const std::string& path) {
    Close();
    // O_APPEND makes each write land at the end even when another process appends too.
    m_iFd = OpenRegularFile(path, O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW, &m_iLastError);
    return m_iFd >= 0;
}

bool AppendFile::IsStillAt(const std::string& path) const {
    struct stat open {};
    struct stat named {};
    return m_iFd >= 0 && ::fstat(m_iFd, &open) == 0 && ::lstat(path.c_str(), &named) == 0 &&
           open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}

bool AppendFile::SeekEnd() {
    return ::lseek(m_iFd, 0, SEEK_END) >= 0;
}

bool AppendFile::Write(const void* data, size_t len) {
    int error = 0;
    return WriteAll(m_iFd, data, len, &error);
}

bool AppendFile::AppendWhole(const void* data, size_t len) {
    struct stat before {};
    if (::fstat(m_iFd, &before) != 0) {
        m_iLastError = errno;
        return false;
    }
    if (WriteAll(m_iFd, data, len, &m_iLastError)) {
        return true;
    }
    if (::ftruncate(m_iFd, before.st_size) != 0) {
        // What stays ends without its CR LF: a reader can still tell it from a whole line.
    }
    return false;
}

bool AppendFile::Flush() {
    return ::fdatasync(m_iFd) == 0;
}

void AppendFile::Close() {
    if (m_iFd >= 0) {
        ::close(m_iFd);
        m_iFd = -1;
    }
}

DataFile::~DataFile() {
    Close();
}

bool DataFile::OpenRead(const std::string& path) {
    Close();
    m_iFd = OpenRegularFile(path, O_RDONLY, &m_iLastError);
    if (m_iFd < 0) {
        return false;
    }
    ::posix_fadvise(m_iFd, 0, 0, POSIX_FADV_SEQUENTIAL);
    return true;
}

bool DataFile::OpenWrite(const std::string& path) {
    Close();
    m_iFd = OpenRegularFile(path, O_WRONLY | O_CREAT | O_NOFOLLOW, &m_iLastError);
    return m_iFd >= 0;
}

void DataFile::Close() {
    if (m_iFd >= 0) {
        ::close(m_iFd);
        m_iFd = -1;
    }
}

bool DataFile::Truncate() {
    if (::ftruncate(m_iFd, 0) != 0) {
        m_iLastError = errno;
        return false;
    }
    return true;
}

int64_t DataFile::Size() const {
    struct stat st {};
    return ::fstat(m_iFd, &st) == 0 ? static_cast<int64_t>(st.st_size) : -1;
}

long DataFile::ReadAt(int64_t offset, void* buf, size_t len) {
    char* p = static_cast<char*>(buf);
    size_t done = 0;
    while (done < len) {
        ssize_t n = ::pread(m_iFd, p + done, len - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            m_iLastError = errno;
            return -1;
        }
        if (n == 0) {
            break;
        }
        done += static_cast<size_t>(n);
    }
    return static_cast<long>(done);
}

bool DataFile::Write(const void* data, size_t len) {
    return WriteAll(m_iFd, data, len, &m_iLastError);
}

std::string DataFile::RealPath() const {
    if (m_iFd < 0) {
        return "";
    }
    return platform::RealPath("/proc/self/fd/" + std::to_string(m_iFd));
}

ReplacementFile::~ReplacementFile() {
    Discard();
}

bool ReplacementFile::Open(const std::string& target) {
    Discard();
    const size_t slash = target.rfind('/');
    const std::string folder =
        slash == std::string::npos ? "." : (slash == 0 ? "/" : target.substr(0, slash));
    m_szTargetName = slash == std::string::npos ? target : target.substr(slash + 1);
    if (m_szTargetName.empty()) {
        m_iLastError = EISDIR;  // a folder's name: nothing to replace
        return false;
    }
    m_iDirFd = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (m_iDirFd < 0) {
        m_iLastError = errno;
        return false;
    }
    struct stat st {};
    if (::fstatat(m_iDirFd, m_szTargetName.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        int refused = 0;
        if (S_ISLNK(st.st_mode)) {
            refused = ELOOP;
        } else if (S_ISDIR(st.st_mode)) {
            refused = EISDIR;
        } else if (!S_ISREG(st.st_mode)) {
            refused = EINVAL;
        } else if (::faccessat(m_iDirFd, m_szTargetName.c_str(), W_OK, 0) != 0) {
            refused = errno;
        }
        if (refused != 0) {
            m_iLastError = refused;
            Discard();
            return false;
        }
    }
    std::random_device seed;
    std::mt19937 pick(seed());
    // Bounded: a clash needs another file of the same random name.
    for (int attempt = 0; attempt < 16 && m_iFd < 0; ++attempt) {
        m_szTempName = kUploadTempPrefix + std::to_string(pick() % 1000000000u) + kUploadTempSuffix;
        m_iFd = ::openat(m_iDirFd, m_szTempName.c_str(),
                         O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        m_iLastError = m_iFd < 0 ? errno : 0;
        if (m_iFd < 0 && m_iLastError != EEXIST) {
            break;
        }
    }
    if (m_iFd < 0) {
        m_szTempName.clear();
        Discard();
        return false;
    }
    return true;
}

bool ReplacementFile::Write(const void* data, size_t len) {
    return WriteAll(m_iFd, data, len, &m_iLastError);
}

std::string ReplacementFile::RealFolder() const {
    if (m_iDirFd < 0) {
        return "";
    }
    return platform::RealPath("/proc/self/fd/" + std::to_string(m_iDirFd));
}

bool ReplacementFile::Commit() {
    // Data first: a rename that reached the disk before the data would leave an empty file in
    // the target's place after a power cut.
    if (m_iFd < 0 || ::fsync(m_iFd) != 0 ||
        ::renameat(m_iDirFd, m_szTempName.c_str(), m_iDirFd, m_szTargetName.c_str()) != 0) {
        m_iLastError = m_iFd < 0 ? EBADF : errno;
        Discard();
        return false;
    }
    m_szTempName.clear();
    Discard();
    return true;
}

// Keeps LastError(): a failed Open or Commit discards after noting why.
void ReplacementFile::Discard() {
    if (m_iFd >= 0) {
        ::close(m_iFd);
        m_iFd = -1;
    }
    if (m_iDirFd >= 0) {
        if (!m_szTempName.empty()) {
            ::unlinkat(m_iDirFd, m_szTempName.c_str(), 0);
        }
        ::close(m_iDirFd);
        m_iDirFd = -1;
    }
    m_szTempName.clear();
}

bool IsReplacementTempName(const std::string& name) {
    const size_t prefix = std::strlen(kUploadTempPrefix);
    const size_t suffix = std::strlen(kUploadTempSuffix);
    return name.size() >= prefix + suffix &&
           ::strncasecmp(name.c_str(), kUploadTempPrefix, prefix) == 0 &&
           ::strcasecmp(name.c_str() + name.size() - suffix, kUploadTempSuffix) == 0;
}

bool IsProgramTempName(const std::string& name) {
    const size_t prefix = std::strlen(kDownloadTempPrefix);
    return IsReplacementTempName(name) ||
           (name.size() > prefix && ::strncasecmp(name.c_str(), kDownloadTempPrefix, prefix) == 0);
}

bool IsReservedPathName(const std::string&) {
    return false;
}

namespace {
bool VersionOfDescriptor(int fd, FileVersion* out) {
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        return false;
    }
    out->id.device = static_cast<uint64_t>(st.st_dev);
    out->id.inode = static_cast<uint64_t>(st.st_ino);
    out->size = static_cast<int64_t>(st.st_size);
    out->modifiedNs = int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec;
    out->changedNs = int64_t{st.st_ctim.tv_sec} * 1000000000 + st.st_ctim.tv_nsec;
    return true;
}
}  // namespace

bool VersionOfStream(std::FILE* file, FileVersion* out) {
    return VersionOfDescriptor(::fileno(file), out);
}

bool DataFile::Version(FileVersion* out) const {
    return VersionOfDescriptor(m_iFd, out);
}

bool RenameOver(const std::string& from, const std::string& to) {
    return ::rename(from.c_str(), to.c_str()) == 0;
}

bool IdentifyFile(const std::string& path, FileIdentity* out) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return false;
    }
    out->device = static_cast<uint64_t>(st.st_dev);
    out->inode = static_cast<uint64_t>(st.st_ino);
    return true;
}

bool IsPathInsideRoot(const std::string& realRoot, const std::string& realPath) {
    if (realRoot.empty() || realPath.empty()) {
        return false;
    }
    if (realRoot == "/") {
        return realPath[0] == '/';
    }
    return realPath == realRoot || (realPath.size() > realRoot.size() &&
                                    realPath.compare(0, realRoot.size(), realRoot) == 0 &&
                                    realPath[realRoot.size()] == '/');
}

std::string RealPath(std::FILE* file) {
    return platform::RealPath("/proc/self/fd/" + std::to_string(::fileno(file)));
}

int64_t FileSize(std::FILE* file) {
    struct stat st {};
    return ::fstat(::fileno(file), &st) == 0 ? static_cast<int64_t>(st.st_size) : -1;
}

std::FILE* OpenRegularFileForRead(const std::string& path) {
    int err = 0;
    int fd = OpenRegularFile(path, O_RDONLY, &err);
    if (fd < 0) {
        errno = err;
        return nullptr;
    }
    std::FILE* f = ::fdopen(fd, "rb");
    if (f == nullptr) {
        int err = errno;
        ::close(fd);
        errno = err;
    }
    return f;
}

std::string RealPath(const std::string& path, int* error) {
    char buf[PATH_MAX];
    if (::realpath(path.c_str(), buf) == nullptr) {
        if (error) {
            *error = errno;
        }
        return "";
    }
    return buf;
}

bool IsDirectory(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool PathExists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

int64_t PathSize(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<int64_t>(st.st_size) : -1;
}

int64_t FreeDiskBytes(const std::string& path) {
    struct statvfs st {};
    if (::statvfs(path.c_str(), &st) != 0) {
        return -1;
    }
    return static_cast<int64_t>(st.f_bavail) * static_cast<int64_t>(st.f_frsize);
}

std::string SystemErrorText(int err) {
    char buf[512] = {};
    // GNU strerror_r may return a static string instead of filling buf.
    const char* text = strerror_r(err, buf, sizeof buf);
    return text ? text : "";
}

std::string ExecutablePath() {
    const std::string& launcher = LauncherPath();
    return launcher.empty() ? RunningFilePath() : launcher;
}

std::string RunningFilePath() {
    char buf[4096];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    return n <= 0 ? "" : std::string(buf, static_cast<size_t>(n));
}

// A Linux package names its settings file with --config; a copy run from anywhere else keeps
// them beside itself.
std::string SettingsDir() {
    return ExecutableDir();
}

std::string ExecutableDir() {
    const std::string path = ExecutablePath();
    if (path.empty()) {
        return ".";
    }
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
}

long ReadFileAt(std::FILE* file, uint64_t offset, void* buf, size_t len) {
    const int fd = ::fileno(file);
    char* p = static_cast<char*>(buf);
    size_t done = 0;
    while (done < len) {
        ssize_t n = ::pread(fd, p + done, len - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return -1;
        }
        if (n == 0) {
            break;
        }
        done += static_cast<size_t>(n);
    }
    return static_cast<long>(done);
}

}  // namespace orvane::platform
