#pragma once

namespace orvane::ui {

// Runs the program file again, with no argument but --config and the settings file in use, in
// place of this process: the same process id goes on as the new instance, and the
// single-instance lock is released by the exec itself, so the new instance never finds the old
// one still holding it (as a separately started process could). Returns only if the program
// could not be run: the process then ends with status 0, as a restart ends it. On Windows,
// which has no exec, the shell starts a new process and this one ends at once.
[[noreturn]] void RestartProgram();

}  // namespace orvane::ui
