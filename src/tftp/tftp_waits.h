#pragma once

// When a transfer resends and gives up. Every wait is bounded by the time-out schedule (a
// quarter, a half, then the whole time-out; six of its time-outs end a transfer); a client that
// asked no time-out is resent to earlier, on its measured round trip.

#include <cstdint>

#include "tftp/tftp_transfer_record.h"

namespace orvane {

// When the wait for the packet outstanding ends (monotonic ms); `scheduleTimeout` tells
// whether that end is one of the schedule's time-outs rather than an earlier resend.
int64_t ResendDeadlineMs(const TftpTransfer& t, bool oackOutstanding, bool* scheduleTimeout);

// Each send of the awaited packet (`resend` for a copy), its time-out, and its answer.
void NoteSent(TftpTransfer& t, bool resend);
void NoteTimeout(TftpTransfer& t, bool scheduleTimeout);
void NoteAnswered(TftpTransfer& t);

}  // namespace orvane
