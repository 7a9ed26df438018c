// Runs the TFTP service alone, for benchmarks: orvane-tftp-serve ADDR ROOT [LOGLEVEL]. Prints
// "ready" once started and serves until SIGINT or SIGTERM.
#include <cstdio>
#include <cstdlib>

#include "platform/signals.h"
#include "support/log.h"
#include "tftp/tftp_service.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: orvane-tftp-serve ADDR ROOT [LOGLEVEL]\n");
        return 2;
    }
    orvane::platform::BlockTerminationSignals();
    orvane::InitLog(argc > 3 ? std::atoi(argv[3]) : orvane::kLogMajor, "tftp-serve.log");
    orvane::TftpSettings settings;
    settings.bindAddress = argv[1];
    settings.root = argv[2];
    // The benchmarks' clients all share one address, where devices have one each.
    settings.transfersPerAddress = settings.maxTransfers;
    orvane::TftpService service;
    service.Start(settings);
    std::printf("ready\n");
    std::fflush(stdout);
    orvane::platform::WaitForTerminationSignal();
    service.Stop();
    return 0;
}
