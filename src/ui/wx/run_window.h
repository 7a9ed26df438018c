#pragma once

namespace orvane::ui {

// Runs the window front-end; the process's exit status. Without a display to open the
// window on, says so on standard error (naming --headless) and returns 1.
int RunWindow(int argc, char** argv);

}  // namespace orvane::ui
