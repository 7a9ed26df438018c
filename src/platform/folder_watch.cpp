#include "platform/folder_watch.h"

#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace orvane::platform {

FolderWatch::~FolderWatch() {
    Close();
}

bool FolderWatch::Open(const std::string& path) {
    Close();
    m_iFd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_iFd < 0) {
        m_iLastError = errno;
        return false;
    }
    // Names only: a file growing while it is copied in is not a change of the folder.
    const uint32_t mask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ONLYDIR;
    if (::inotify_add_watch(m_iFd, path.c_str(), mask) < 0) {
        m_iLastError = errno;
        Close();
        return false;
    }
    return true;
}

void FolderWatch::Close() {
    if (m_iFd >= 0) {
        ::close(m_iFd);
        m_iFd = -1;
    }
}

FolderWatch::WaitResult FolderWatch::Wait(int timeoutMs) {
    if (m_iFd < 0) {
        m_iLastError = EBADF;
        return WaitResult::kFailed;
    }
    pollfd pfd{m_iFd, POLLIN, 0};
    int r = ::poll(&pfd, 1, timeoutMs);
    if (r == 0 || (r < 0 && errno == EINTR)) {
        return WaitResult::kTimeout;
    }
    if (r < 0 || (pfd.revents & (POLLERR | POLLNVAL)) != 0) {
        m_iLastError = r < 0 ? errno : EIO;
        return WaitResult::kFailed;
    }
    // The events themselves are not needed, only that there were some: drain them all so the
    // next wait blocks until something new happens. Room for the longest name (NAME_MAX).
    alignas(inotify_event) char buf[4096];
    for (int i = 0; i < 64; ++i) {
        ssize_t n = ::read(m_iFd, buf, sizeof buf);
        if (n > 0) {
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            m_iLastError = errno;
            return WaitResult::kFailed;
        }
        break;
    }
    return WaitResult::kChanged;
}

std::string FolderWatch::LastErrorText() const {
    return std::strerror(m_iLastError);
}

}  // namespace orvane::platform
