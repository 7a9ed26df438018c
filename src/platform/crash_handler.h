#pragma once

#include <string>

namespace orvane::platform {

// Installs the process's handler for the fatal signals SIGSEGV, SIGBUS, SIGILL, SIGFPE and
// SIGABRT. On such a signal it writes a crash record (signal, code, fault address, thread,
// process, time, backtrace) to `crashDir`/YYYY-MM-DD/YYYYMMDD_HHMMSS.dmp in local time,
// creating the folders, and then lets the signal end the process as it would have without the
// handler. The handler uses only async-signal-safe calls; a record that cannot be written is
// skipped. Call once at start-up, before worker threads start. False when `crashDir` is too
// long for the record paths or a handler could not be installed.
bool InstallCrashHandler(const std::string& crashDir);

}  // namespace orvane::platform
