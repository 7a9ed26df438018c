#include <cstdio>

#include "ui/wx/run_window.h"

namespace orvane::ui {

int RunWindow(int, char**) {
    std::fprintf(stderr, "This build of Orvane has no window: run it with --headless\n");
    return 1;
}

}  // namespace orvane::ui
