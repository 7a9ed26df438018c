#include "platform/signals.h"

#include <pthread.h>
#include <unistd.h>
#include <csignal>

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
}

void BlockTerminationSignals() {
    sigset_t set = TerminationSet();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

int WaitForTerminationSignal() {
    sigset_t set = TerminationSet();
    int sig = 0;
    while (sigwait(&set, &sig) != 0) {
    }
    return sig;
}

void IgnoreBrokenPipe() {
    std::signal(SIGPIPE, SIG_IGN);
}

}  // namespace orvane::platform
