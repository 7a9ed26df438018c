#include "platform/terminal.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>

namespace orvane::platform {

namespace {
constexpr size_t kMaxWrite = 4096;  // one pipe page
}

bool IsTerminal(int fd) {
    return ::isatty(fd) == 1;
}

bool TerminalSize(int fd, int* rows, int* cols) {
    struct winsize ws {};
    if (::ioctl(fd, TIOCGWINSZ, &ws) != 0 || ws.ws_row == 0 || ws.ws_col == 0) {
        return false;
    }
    *rows = ws.ws_row;
    *cols = ws.ws_col;
    return true;
}

long WriteWithin(int fd, const char* data, size_t len, int timeoutMs) {
    struct pollfd pfd {};
    pfd.fd = fd;
    pfd.events = POLLOUT;
    int ready = ::poll(&pfd, 1, timeoutMs);
    if (ready < 0) {
        return errno == EINTR ? 0 : -1;
    }
    if (ready == 0) {
        return 0;
    }
    if ((pfd.revents & (POLLERR | POLLNVAL)) != 0) {
        return -1;
    }
    ssize_t n = ::write(fd, data, std::min(len, kMaxWrite));
    if (n < 0) {
        return errno == EINTR || errno == EAGAIN ? 0 : -1;
    }
    return n;
}

}  // namespace orvane::platform
