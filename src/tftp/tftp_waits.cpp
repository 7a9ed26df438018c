// When a transfer resends: the time-out schedule, bounded from below by the client's measured
// round trip for clients that asked no time-out of their own.
#include "tftp/tftp_waits.h"

#include <algorithm>

#include "platform/clock.h"

namespace orvane {

namespace {

// The time-out in force. Until the client's first answer (the ACK of the OACK or of DATA 1, an
// upload's first DATA) a longer time-out than the service's own is not: a request asking
// 255 s and never answering would hold its record for twenty minutes. A shorter one is, since
// such a client resends and gives up on its own short clock. The asked one applies after.
int TimeoutInForce(const TftpTransfer& t) {
    return t.answered ? t.timeoutSeconds : std::min(t.timeoutSeconds, TftpConfig::kTimeoutSeconds);
}

// The time-out schedule's wait after the transfer's consecutive time-outs: a quarter, a half,
// then the whole time-out.
int64_t ScheduleWaitMs(const TftpTransfer& t) {
    const int whole = TimeoutInForce(t);
    const int seconds =
        t.timeouts == 0 ? (whole + 3) / 4 : (t.timeouts == 1 ? (whole + 1) / 2 : whole);
    return int64_t{seconds} * t.settings->secondMs;
}

}  // namespace

// When the wait for the packet outstanding ends (monotonic ms), and in `scheduleTimeout`
// whether that end is one of the schedule's time-outs (six of them end the transfer) rather
// than an earlier resend on the client's measured round trip. The schedule bounds every wait,
// so a client that stops answering is given up after the same time as with fixed waits. An
// OACK (`oackOutstanding`) is resent on the schedule alone: some clients (atftp) abort on a
// second OACK, and an early one would cross their own repeat of ACK 0 after 1 s.
int64_t ResendDeadlineMs(const TftpTransfer& t, bool oackOutstanding, bool* scheduleTimeout) {
    int64_t deadline = t.scheduleDeadlineMs;
    if (t.adaptiveWaits && !oackOutstanding) {
        deadline = std::min(deadline, t.rtt.SentMs() + t.rtt.WaitMs(ScheduleWaitMs(t)));
    }
    *scheduleTimeout = deadline == t.scheduleDeadlineMs;
    return deadline;
}

// Every send of the packet whose answer is awaited is noted here. A first send, and the
// first resend after one of the schedule's time-outs, start the schedule's next wait; an
// earlier resend leaves it running.
void NoteSent(TftpTransfer& t, bool resend) {
    const int64_t now = platform::MonotonicMs();
    t.rtt.Sent(now, resend);
    if (!resend || t.scheduleDeadlineMs == 0) {
        t.scheduleDeadlineMs = now + ScheduleWaitMs(t);
    }
}

// The wait for the packet outstanding ran out: it is sent again, after a longer wait.
void NoteTimeout(TftpTransfer& t, bool scheduleTimeout) {
    t.rtt.TimedOut();
    ++t.resendsOfPacket;
    if (scheduleTimeout) {
        ++t.timeouts;
        t.scheduleDeadlineMs = 0;  // the next wait of the schedule starts with the resend
    }
}

// The packet outstanding was answered: the round trip is sampled (unless it was resent) and
// the next packet starts a fresh schedule. The acknowledgement of an OACK is no sample: a
// device answers it at once, while each block may cost it a flash write, and a wait learnt
// from the OACK would resend the first blocks to every slow device.
void NoteAnswered(TftpTransfer& t) {
    t.answered = true;
    if (!(t.opcode == kTftpRrq && t.awaitedBlock == 0)) {
        t.rtt.Answered(platform::MonotonicMs());
    }
    t.resent += t.resendsOfPacket;
    t.resendsOfPacket = 0;
    t.timeouts = 0;
}

}  // namespace orvane
