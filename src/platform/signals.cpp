#include "platform/signals.h"

#include <pthread.h>
#include <unistd.h>
#include <condition_variable>
#include <csignal>
#include <mutex>
#include <thread>

namespace orvane::platform {

namespace {
sigset_t TerminationSet() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}
void ExitNow(int) {
    ::_exit(0);
}
}  // namespace

void ExitOnTerminationSignals() {
    struct sigaction action {};
    action.sa_handler = ExitNow;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // The orvane command blocks both while this program loads: one sent meanwhile is pending
    // and is taken here, now that it ends the process with status 0.
    sigset_t set = TerminationSet();
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

void BlockTerminationSignals() {
    sigset_t set = TerminationSet();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

namespace {
// Shared by the watching thread and the waiter; never destroyed, so a signal taken while the
// process exits never finds them gone.
struct Watch {
    std::mutex lock;
    std::condition_variable taken;
    bool bHandedOver = false;
    int iSignal = 0;
};
Watch* g_pWatch = nullptr;

int TakeSignal() {
    sigset_t set = TerminationSet();
    int sig = 0;
    while (sigwait(&set, &sig) != 0) {
    }
    return sig;
}
}  // namespace

void WatchTerminationSignals() {
    BlockTerminationSignals();
    g_pWatch = new Watch;
    std::thread([watch = g_pWatch] {
        for (;;) {
            const int sig = TakeSignal();
            std::lock_guard<std::mutex> guard(watch->lock);
            if (!watch->bHandedOver) {
                ::_exit(0);
            }
            watch->iSignal = sig;
            watch->taken.notify_all();
        }
    }).detach();
}

void HandOverTerminationSignals() {
    if (g_pWatch) {
        std::lock_guard<std::mutex> guard(g_pWatch->lock);
        g_pWatch->bHandedOver = true;
    }
}

int WaitForTerminationSignal() {
    if (!g_pWatch) {
        return TakeSignal();
    }
    std::unique_lock<std::mutex> guard(g_pWatch->lock);
    g_pWatch->taken.wait(guard, [] { return g_pWatch->iSignal != 0; });
    return g_pWatch->iSignal;
}

void IgnoreBrokenPipe() {
    std::signal(SIGPIPE, SIG_IGN);
}

}  // namespace orvane::platform
