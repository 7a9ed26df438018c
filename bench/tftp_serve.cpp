// Runs the TFTP service alone, for benchmarks: orvane-tftp-serve ADDR ROOT [LOGLEVEL]. Prints
// "ready" once started and serves until SIGINT or SIGTERM.
#include <cstdio>
#include <cstdlib>

#include "platform/signals.h"
#include "support/log.h"
#include "tftp/tftp_interface.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: orvane-tftp-serve ADDR ROOT [LOGLEVEL]\n");
        return 2;
    }
    orvane::platform::BlockTerminationSignals();
    orvane::InitLog(argc > 3 ? std::atoi(argv[3]) : orvane::kLogMajor, "tftp-serve.log");
    orvane::StartTftp(argv[1], argv[2]);
    std::printf("ready\n");
    std::fflush(stdout);
    orvane::platform::WaitForTerminationSignal();
    orvane::StopTftp();
    return 0;
}
