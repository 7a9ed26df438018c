// Restarts itself as "Restart Now" does (settings file: argv[1]); run again, prints its args.
#include <cstdio>

#include "app/app_config.h"
#include "ui/wx/program_restart.h"

int main(int argc, char** argv) {
    if (argc == 2) {
        orvane::SetConfigIniPath(argv[1]);
        orvane::ui::RestartProgram();
    }
    for (int i = 1; i < argc; ++i) {
        std::printf("%s%s", argv[i], i + 1 < argc ? " " : "\n");
    }
    return 0;
}
