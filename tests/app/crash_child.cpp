// A program that installs the crash recorder and then dies of a fault ("fault") or an abort;
// a second argument names its settings file, as --config does.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/app_config.h"
#include "app/app_startup.h"

int main(int argc, char** argv) {
    if (argc >= 3) {
        orvane::SetConfigIniPath(argv[2]);
    }
    if (argc < 2 || !orvane::InstallCrashRecorder()) {
        return 2;
    }
    const char* kind = argv[1];
    if (std::strcmp(kind, "fault") == 0) {
        // A real fault at a known address: a store into a read-only page.
        void* page = mmap(nullptr, 4096, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        std::printf("armed %p\n", page);
        std::fflush(stdout);
        *static_cast<volatile char*>(page) = 1;
        return 3;
    }
    std::printf("armed\n");
    std::fflush(stdout);
    std::abort();
}
