#include "platform/file.h"

#include <fcntl.h>
#include <unistd.h>
#include <cerrno>

namespace orvane::platform {

AppendFile::~AppendFile() {
    Close();
}

bool AppendFile::OpenAlways(const std::string& path) {
    Close();
    m_iFd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    return m_iFd >= 0;
}

bool AppendFile::SeekEnd() {
    return ::lseek(m_iFd, 0, SEEK_END) >= 0;
}

bool AppendFile::Write(const void* data, size_t len) {
    const char* p = static_cast<const char*>(data);
    while (len > 0) {
        ssize_t n = ::write(m_iFd, p, len);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        p += n;
        len -= static_cast<size_t>(n);
    }
    return true;
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

}  // namespace orvane::platform
