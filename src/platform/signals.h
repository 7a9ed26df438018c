#pragma once

namespace orvane::platform {

// Makes SIGINT and SIGTERM end the process with status 0 at once, and unblocks them on the
// calling thread, so one that arrived while they were blocked (the orvane command blocks them
// while this program loads) ends it now. Call first thing in main: until the service takes the
// signals over (BlockTerminationSignals), start-up has nothing to stop, and a start-up that
// hangs must still end as asked.
void ExitOnTerminationSignals();

// Blocks SIGINT and SIGTERM on the calling thread and every thread it starts afterwards, so
// they can be taken synchronously with WaitForTerminationSignal. Call before starting threads.
void BlockTerminationSignals();

// Blocks SIGINT and SIGTERM like BlockTerminationSignals and takes them on a thread of its own:
// until HandOverTerminationSignals, a signal ends the process at once with status 0 (a Start
// that waits for the network has nothing to stop yet, and must end as asked); afterwards it is
// kept for WaitForTerminationSignal. Call once, before starting threads.
void WatchTerminationSignals();
void HandOverTerminationSignals();

// Waits for SIGINT or SIGTERM (after WatchTerminationSignals: one taken after the hand-over);
// returns the signal number.
int WaitForTerminationSignal();

// A write to a pipe whose reader has gone then fails with an error instead of ending the
// process.
void IgnoreBrokenPipe();

}  // namespace orvane::platform
