#include "platform/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#include <cerrno>
#include <cstdlib>

namespace orvane::platform {

InstanceLock::~InstanceLock() {
    if (m_iFd >= 0) {
        ::close(m_iFd);
    }
}

bool InstanceLock::TryAcquire(const std::string& path) {
    if (m_iFd >= 0) {
        return true;
    }
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        return false;
    }
    int rc;
    do {
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        ::close(fd);
        return false;
    }
    m_iFd = fd;
    return true;
}

std::string RuntimeDir() {
    for (const char* name : {"XDG_RUNTIME_DIR", "TMPDIR"}) {
        const char* value = std::getenv(name);
        if (value && *value) {
            return value;
        }
    }
    return "/tmp";
}

}  // namespace orvane::platform
