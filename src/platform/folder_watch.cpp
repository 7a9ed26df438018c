#include "platform/folder_watch.h"

#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace orvane::platform {

namespace {

// Names created, removed or renamed, and files closed after writing: a file copied in is
// complete only at its close, and its create came while it was still being written. The
// folder itself going away (removed or renamed) ends the watch of that folder.
constexpr uint32_t kWatchMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                IN_CLOSE_WRITE | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

bool NameEndsWith(const inotify_event& e, const std::string& suffix) {
    const size_t length = e.len > 0 ? ::strnlen(e.name, e.len) : 0;
    return length >= suffix.size() &&
           std::memcmp(e.name + length - suffix.size(), suffix.data(), suffix.size()) == 0;
}

}  // namespace

FolderWatch::~FolderWatch() {
    Close();
}

bool FolderWatch::Open(const std::string& path, const std::string& writtenSuffix) {
    Close();
    m_iFd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_iFd < 0) {
        m_iLastError = errno;
        return false;
    }
    m_szPath = path;
    m_szWrittenSuffix = writtenSuffix;
    if (!AddWatch()) {
        Close();
        return false;
    }
    return true;
}

bool FolderWatch::AddWatch() {
    m_iWatch = ::inotify_add_watch(m_iFd, m_szPath.c_str(), kWatchMask);
    if (m_iWatch < 0) {
        m_iLastError = errno;
        return false;
    }
    return true;
}

void FolderWatch::Close() {
    if (m_iFd >= 0) {
        ::close(m_iFd);
        m_iFd = -1;
    }
    m_iWatch = -1;
}

FolderWatch::WaitResult FolderWatch::Wait(int timeoutMs) {
    if (m_iFd < 0) {
        m_iLastError = EBADF;
        return WaitResult::kFailed;
    }
    pollfd pfd{m_iFd, POLLIN, 0};
    int r = ::poll(&pfd, 1, timeoutMs);
    if (m_iWatch < 0 && AddWatch()) {
        // The folder is back under its name after it went away: what it holds now is new.
        return WaitResult::kChanged;
    }
    if (r == 0 || (r < 0 && errno == EINTR)) {
        return WaitResult::kTimeout;
    }
    if (r < 0 || (pfd.revents & (POLLERR | POLLNVAL)) != 0) {
        m_iLastError = r < 0 ? errno : EIO;
        return WaitResult::kFailed;
    }
    return Drain();
}

// Consumes every pending event, so the next wait blocks until something new happens.
FolderWatch::WaitResult FolderWatch::Drain() {
    // Room for several events with the longest name (NAME_MAX).
    alignas(inotify_event) char buf[4096];
    bool folderGone = false;
    bool changed = false;
    for (int i = 0; i < 64; ++i) {
        ssize_t n = ::read(m_iFd, buf, sizeof buf);
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            m_iLastError = errno;
            return WaitResult::kFailed;
        }
        if (n <= 0) {
            break;
        }
        for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
            const auto* e = reinterpret_cast<const inotify_event*>(buf + at);
            at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
            if ((e->mask & IN_Q_OVERFLOW) != 0) {
                changed = true;  // events were lost: anything may have changed
                continue;
            }
            if (e->wd != m_iWatch) {
                continue;  // the end of a watch dropped already
            }
            if ((e->mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED)) != 0) {
                folderGone = true;
            }
            changed = changed || e->mask != IN_CLOSE_WRITE || NameEndsWith(*e, m_szWrittenSuffix);
        }
    }
    if (folderGone) {
        // Watched by its name, not by what was once there: a folder renamed away is no longer
        // the folder, and one created again under the name is picked up by the next wait.
        ::inotify_rm_watch(m_iFd, m_iWatch);
        m_iWatch = -1;
        changed = true;
    }
    return changed ? WaitResult::kChanged : WaitResult::kTimeout;
}

std::string FolderWatch::LastErrorText() const {
    return std::strerror(m_iLastError);
}

}  // namespace orvane::platform
