#include "platform/signals.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

namespace orvane::platform {
namespace {

// Catches SIGINT or SIGTERM during a start-up that hangs (a read that never returns) ending
// the process by the signal instead of with status 0, as scripts that stop it expect.
TEST(SignalsTest, TerminationDuringAStuckStartUpExitsZero) {
    for (int sig : {SIGTERM, SIGINT}) {
        int ready[2];
        int never[2];
        ASSERT_EQ(::pipe(ready), 0);
        ASSERT_EQ(::pipe(never), 0);
        pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ExitOnTerminationSignals();
            (void)::write(ready[1], "r", 1);
            char byte;
            (void)::read(never[0], &byte, 1);  // stuck: nothing ever comes
            ::_exit(3);
        }
        pollfd p{ready[0], POLLIN, 0};
        ASSERT_EQ(::poll(&p, 1, 10000), 1);
        char byte;
        ASSERT_EQ(::read(ready[0], &byte, 1), 1);
        ::kill(child, sig);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "signal " << sig;
        for (int fd : {ready[0], ready[1], never[0], never[1]}) {
            ::close(fd);
        }
    }
}

}  // namespace
}  // namespace orvane::platform
