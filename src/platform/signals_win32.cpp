#include "platform/signals.h"

#include <windows.h>

#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <mutex>

// Windows has no termination signals: the console tells its programs of Ctrl+C, Ctrl+Break and
// its own closing through a handler that runs on a thread of its own. Ctrl+C and Ctrl+Break
// stand for SIGINT; the console's close, a log-off and a shut-down for SIGTERM.

namespace orvane::platform {

namespace {

// Never destroyed: the handler may run while the process exits.
struct Watch {
    std::mutex lock;
    std::condition_variable taken;
    bool bWatching = false;
    bool bHandedOver = false;
    int iSignal = 0;
};

Watch& TheWatch() {
    static Watch* watch = new Watch;
    return *watch;
}

int SignalOf(DWORD event) {
    return event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT ? SIGINT : SIGTERM;
}

BOOL WINAPI OnConsoleEvent(DWORD event) {
    Watch& watch = TheWatch();
    {
        std::lock_guard<std::mutex> guard(watch.lock);
        if (!watch.bHandedOver) {
            ::ExitProcess(0);
        }
        if (watch.iSignal == 0) {
            watch.iSignal = SignalOf(event);
        }
        watch.taken.notify_all();
    }
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) {
        return TRUE;
    }
    // The system ends the process as soon as this handler returns from a close: wait here
    // while the service stops cleanly and the program exits (the system allows a few seconds).
    ::Sleep(INFINITE);
    return TRUE;
}

void InstallHandler() {
    Watch& watch = TheWatch();
    std::lock_guard<std::mutex> guard(watch.lock);
    if (!watch.bWatching) {
        watch.bWatching = true;
        ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
    }
}

}  // namespace

void ExitOnTerminationSignals() {
    InstallHandler();
}

void BlockTerminationSignals() {
    InstallHandler();
    std::lock_guard<std::mutex> guard(TheWatch().lock);
    TheWatch().bHandedOver = true;
}

void WatchTerminationSignals() {
    InstallHandler();
}

void HandOverTerminationSignals() {
    std::lock_guard<std::mutex> guard(TheWatch().lock);
    TheWatch().bHandedOver = true;
}

int WaitForTerminationSignal() {
    InstallHandler();
    Watch& watch = TheWatch();
    std::unique_lock<std::mutex> guard(watch.lock);
    watch.bHandedOver = true;
    watch.taken.wait(guard, [&] { return watch.iSignal != 0; });
    return watch.iSignal;
}

// Windows has no broken-pipe signal: a write to a pipe whose reader has gone fails on its own.
void IgnoreBrokenPipe() {}

}  // namespace orvane::platform
