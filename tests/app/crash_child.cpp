// Installs the crash recorder, then dies of a fault ("fault") or an abort; a second argument
// names its settings file, as --config does.
#ifdef _WIN32
#include <windows.h>
#else
#include <sys/mman.h>
#endif

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
    // A real fault at a known address: a store into a read-only page.
#ifdef _WIN32
    void* page = VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_READONLY);
#else
    void* page = mmap(nullptr, 4096, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
#endif
    const bool fault = std::strcmp(argv[1], "fault") == 0;
    std::printf("armed %p\n", fault ? page : nullptr);
    std::fflush(stdout);
    if (fault) {
        *static_cast<volatile char*>(page) = 1;
    }
    std::abort();
}
