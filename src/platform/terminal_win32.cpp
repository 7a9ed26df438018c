#include "platform/terminal.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

// The seam's descriptors 0, 1 and 2 are the standard handles.

namespace orvane::platform {

namespace {

constexpr size_t kMaxWrite = 4096;

HANDLE StandardHandle(int fd) {
    switch (fd) {
        case 0:
            return ::GetStdHandle(STD_INPUT_HANDLE);
        case 1:
            return ::GetStdHandle(STD_OUTPUT_HANDLE);
        case 2:
            return ::GetStdHandle(STD_ERROR_HANDLE);
        default:
            return INVALID_HANDLE_VALUE;
    }
}

// The live table draws with virtual-terminal sequences and writes UTF-8: both are switched on
// once, the first time a console is asked about.
void PrepareConsole(HANDLE h) {
    static const bool prepared = [h] {
        DWORD mode = 0;
        if (::GetConsoleMode(h, &mode)) {
            ::SetConsoleMode(h,
                             mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING | ENABLE_PROCESSED_OUTPUT);
        }
        ::SetConsoleOutputCP(CP_UTF8);
        return true;
    }();
    (void)prepared;
}

}  // namespace

bool IsTerminal(int fd) {
    HANDLE h = StandardHandle(fd);
    DWORD mode = 0;
    if (h == INVALID_HANDLE_VALUE || h == nullptr || !::GetConsoleMode(h, &mode)) {
        return false;
    }
    PrepareConsole(h);
    return true;
}

bool TerminalSize(int fd, int* rows, int* cols) {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!::GetConsoleScreenBufferInfo(StandardHandle(fd), &info)) {
        return false;
    }
    const int r = info.srWindow.Bottom - info.srWindow.Top + 1;
    const int c = info.srWindow.Right - info.srWindow.Left + 1;
    if (r <= 0 || c <= 0) {
        return false;
    }
    *rows = r;
    *cols = c;
    return true;
}

namespace {

// One write handed to a thread of its own: a pipe on Windows cannot be asked whether it has
// room, so the wait for a stalled reader is cut short by cancelling that thread's write.
struct PendingWrite {
    HANDLE handle = nullptr;
    std::string data;  // a copy: the write may outlive the caller's wait
    DWORD written = 0;
    DWORD error = 0;
    bool done = false;
    std::mutex lock;
    std::condition_variable ended;
};

DWORD WINAPI RunWrite(void* arg) {
    std::unique_ptr<std::shared_ptr<PendingWrite>> handOver(
        static_cast<std::shared_ptr<PendingWrite>*>(arg));
    PendingWrite& job = **handOver;
    DWORD written = 0;
    const BOOL ok = ::WriteFile(job.handle, job.data.data(), static_cast<DWORD>(job.data.size()),
                                &written, nullptr);
    std::lock_guard<std::mutex> guard(job.lock);
    job.written = written;
    job.error = ok ? 0 : ::GetLastError();
    job.done = true;
    job.ended.notify_all();
    return 0;
}

}  // namespace

long WriteWithin(int fd, const char* data, size_t len, int timeoutMs) {
    HANDLE h = StandardHandle(fd);
    if (h == INVALID_HANDLE_VALUE || h == nullptr) {
        return -1;
    }
    const DWORD size = static_cast<DWORD>(std::min(len, kMaxWrite));
    DWORD mode = 0;
    if (::GetConsoleMode(h, &mode) || ::GetFileType(h) == FILE_TYPE_DISK) {
        // A console or a file takes the bytes at once.
        DWORD written = 0;
        return ::WriteFile(h, data, size, &written, nullptr) ? static_cast<long>(written) : -1;
    }
    auto job = std::make_shared<PendingWrite>();
    job->handle = h;
    job->data.assign(data, size);
    auto handOver = std::make_unique<std::shared_ptr<PendingWrite>>(job);
    HANDLE thread = ::CreateThread(nullptr, 64 * 1024, RunWrite, handOver.get(),
                                   STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (thread == nullptr) {
        return -1;
    }
    handOver.release();  // the thread owns it now
    std::unique_lock<std::mutex> guard(job->lock);
    if (!job->ended.wait_for(guard, std::chrono::milliseconds(std::max(timeoutMs, 0)),
                             [&] { return job->done; })) {
        guard.unlock();
        ::CancelSynchronousIo(thread);
        guard.lock();
        // Bounded: a write the system would not cancel is left to its thread, which owns its
        // copy of the bytes.
        job->ended.wait_for(guard, std::chrono::milliseconds(1000), [&] { return job->done; });
    }
    long result = 0;  // nothing taken in time
    if (job->done && (job->error == 0 || job->written > 0)) {
        result = static_cast<long>(job->written);
    } else if (job->done && job->error != ERROR_OPERATION_ABORTED) {
        result = -1;  // the reader has gone
    }
    guard.unlock();
    ::CloseHandle(thread);
    return result;
}

}  // namespace orvane::platform
