#include "platform/file.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>

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
    ::fcntl(fd, F_SETFL, 0);  // back to blocking
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
    m_iFd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    return m_iFd >= 0;
}

bool AppendFile::SeekEnd() {
    return ::lseek(m_iFd, 0, SEEK_END) >= 0;
}

bool AppendFile::Write(const void* data, size_t len) {
    int error = 0;
    return WriteAll(m_iFd, data, len, &error);
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

std::string SystemErrorText(int err) {
    char buf[512] = {};
    // GNU strerror_r may return a static string instead of filling buf.
    const char* text = strerror_r(err, buf, sizeof buf);
    return text ? text : "";
}

std::string ExecutableDir() {
    char buf[4096];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) {
        return ".";
    }
    std::string path(buf, static_cast<size_t>(n));
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
