#include "platform/crash_handler.h"

#include <execinfo.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <atomic>
#include <csignal>
#include <cstring>
#include <ctime>

#include "platform/crash_record.h"

namespace orvane::platform {

namespace {

constexpr int kFatalSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};
constexpr int kMaxFrames = 64;
// Offsets are taken for this long ahead; a process that runs longer gets the last one.
constexpr int64_t kOffsetSpanSeconds = 3LL * 366 * 86400;

// Everything the handler needs is prepared at install time: it must not allocate.
char g_szCrashDir[PATH_MAX];
UtcOffsetTable g_offsets;
std::atomic<int> g_iHandling{0};
// A stack for the handler, so a stack overflow of the main thread still gets its record.
alignas(16) char g_aAltStack[64 * 1024];

const char* SignalName(int sig) {
    switch (sig) {
        case SIGSEGV:
            return "SIGSEGV";
        case SIGBUS:
            return "SIGBUS";
        case SIGILL:
            return "SIGILL";
        case SIGFPE:
            return "SIGFPE";
        case SIGABRT:
            return "SIGABRT";
        default:
            return "?";
    }
}

void WriteAll(int fd, const char* text, size_t len) {
    while (len > 0) {
        ssize_t n = ::write(fd, text, len);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return;
        }
        text += n;
        len -= static_cast<size_t>(n);
    }
}

void WriteRecord(int sig, const siginfo_t* info) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    CivilTime t = CivilFromSeconds(now.tv_sec + g_offsets.OffsetAt(now.tv_sec));

    char dayDir[PATH_MAX];
    char file[PATH_MAX];
    if (!FormatCrashDayDir(dayDir, sizeof dayDir, g_szCrashDir, t) ||
        !FormatCrashFilePath(file, sizeof file, dayDir, t)) {
        return;
    }
    ::mkdir(g_szCrashDir, 0755);  // an existing folder is fine
    ::mkdir(dayDir, 0755);
    int fd = ::open(file, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        return;
    }
    char line[512];
    SafeText text(line, sizeof line);
    text.Add("signal: ").AddDec(sig).Add(" (").Add(SignalName(sig)).Add(")\n");
    text.Add("code: ").AddDec(info ? info->si_code : 0).Add("\n");
    text.Add("fault address: ")
        .AddHex(info ? reinterpret_cast<uintptr_t>(info->si_addr) : 0)
        .Add("\n");
    text.Add("thread: ").AddDec(static_cast<int64_t>(::syscall(SYS_gettid))).Add("\n");
    text.Add("process: ").AddDec(::getpid()).Add("\n");
    text.Add("time: ").AddDec(t.year, 4).Add("-").AddDec(t.month, 2).Add("-").AddDec(t.day, 2);
    text.Add(" ").AddDec(t.hour, 2).Add(":").AddDec(t.minute, 2).Add(":").AddDec(t.second, 2);
    text.Add("\nbacktrace:\n");
    WriteAll(fd, text.Text(), text.Length());

    void* frames[kMaxFrames];
    int count = ::backtrace(frames, kMaxFrames);
    ::backtrace_symbols_fd(frames, count, fd);
    ::close(fd);
}

void OnFatalSignal(int sig, siginfo_t* info, void*) {
    int saved = errno;
    if (g_iHandling.exchange(1) == 0) {
        WriteRecord(sig, info);
    } else {
        // Another thread is writing the record and will end the process: wait for that,
        // bounded, rather than writing a second record over the first.
        timespec pause{0, 100 * 1000 * 1000};
        for (int i = 0; i < 100; ++i) {
            ::nanosleep(&pause, nullptr);
        }
    }
    // The signal stays blocked while the handler runs, so this one is delivered with the
    // default action (ending the process) as soon as the handler returns; a fault at an
    // instruction would also strike again on its own.
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    ::sigaction(sig, &dfl, nullptr);
    ::raise(sig);
    errno = saved;
}

}  // namespace

bool InstallCrashHandler(const std::string& crashDir) {
    // Leave room for "/YYYY-MM-DD/YYYYMMDD_HHMMSS.dmp".
    if (crashDir.empty() || crashDir.size() + 32 >= sizeof g_szCrashDir) {
        return false;
    }
    std::memcpy(g_szCrashDir, crashDir.c_str(), crashDir.size() + 1);

    tzset();
    int64_t now = static_cast<int64_t>(std::time(nullptr));
    g_offsets.Build(now - 86400, now + kOffsetSpanSeconds);

    // The first backtrace() loads the unwinder, which allocates: do it now, not in the handler.
    void* warmUp[2];
    ::backtrace(warmUp, 2);

    stack_t alt{};
    alt.ss_sp = g_aAltStack;
    alt.ss_size = sizeof g_aAltStack;
    ::sigaltstack(&alt, nullptr);

    struct sigaction action {};
    action.sa_sigaction = OnFatalSignal;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    bool ok = true;
    for (int sig : kFatalSignals) {
        ok = ::sigaction(sig, &action, nullptr) == 0 && ok;
    }
    return ok;
}

}  // namespace orvane::platform
