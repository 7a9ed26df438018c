#pragma once

namespace orvane::platform {

// Makes SIGINT and SIGTERM end the process with status 0 at once. Call first thing in main:
// until the service takes the signals over (BlockTerminationSignals), start-up has nothing
// to stop, and a start-up that hangs must still end as asked.
void ExitOnTerminationSignals();

// Blocks SIGINT and SIGTERM on the calling thread and every thread it starts afterwards, so
// they can be taken synchronously with WaitForTerminationSignal. Call before starting threads.
void BlockTerminationSignals();

// Waits for SIGINT or SIGTERM; returns the signal number.
int WaitForTerminationSignal();

// A write to a pipe whose reader has gone then fails with an error instead of ending the
// process.
void IgnoreBrokenPipe();

}  // namespace orvane::platform
