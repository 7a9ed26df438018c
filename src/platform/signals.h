#pragma once

namespace orvane::platform {

// Blocks SIGINT and SIGTERM on the calling thread and every thread it starts afterwards, so
// they can be taken synchronously with WaitForTerminationSignal. Call before starting threads.
void BlockTerminationSignals();

// Waits for SIGINT or SIGTERM; returns the signal number.
int WaitForTerminationSignal();

// A write to a pipe whose reader has gone then fails with an error instead of ending the
// process.
void IgnoreBrokenPipe();

}  // namespace orvane::platform
