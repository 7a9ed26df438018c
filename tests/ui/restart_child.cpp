// A program that restarts itself as the window's "Restart Now" does, its settings file named by
// its one argument; run again, it prints the arguments it was given.
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
