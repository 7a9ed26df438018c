#include "platform/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdlib>

namespace orvane::platform {

InstanceLock::~InstanceLock() {
    Release();
}

void InstanceLock::Release() {
    if (m_iFd >= 0) {
        ::close(m_iFd);
        m_iFd = -1;
    }
}

bool InstanceLock::TryAcquire(const std::string& path) {
    if (m_iFd >= 0) {
        return true;
    }
    // The folder may be shared (the temp folder): a link or a file that another user put there
    // must not be taken for ours, nor make us open what it points to.
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
    if (fd < 0) {
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
        ::close(fd);
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

namespace {

// A folder that only its owner, the calling user, can write to: nobody else can have put a
// lock file or a link there. A link as the folder itself does not count.
bool IsPrivateFolder(const char* path) {
    struct stat st {};
    return ::lstat(path, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
           (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

}  // namespace

std::string RuntimeDir() {
    // Another user's pre-made file in a shared folder would keep root's instance from starting,
    // so root takes only a private folder, else /run, which only root can write.
    const bool root = ::geteuid() == 0;
    for (const char* name : {"XDG_RUNTIME_DIR", "TMPDIR"}) {
        const char* value = std::getenv(name);
        if (value && *value && (!root || IsPrivateFolder(value))) {
            return value;
        }
    }
    return root ? "/run" : "/tmp";
}

}  // namespace orvane::platform
