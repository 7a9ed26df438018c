#pragma once

#include <cstdint>

namespace orvane {

// The round trip of one transfer and the wait before a resend that it gives: a smoothed round
// trip and its variation as TCP keeps them (RFC 6298), samples only from packets that were sent
// once (Karn's rule: the answer to a resent packet cannot tell which copy it answers), and a
// wait that doubles after each time-out and keeps the doubling until a clean sample comes.
// Pure: times are passed in (monotonic ms), nothing is read from a clock.
class TftpRetransmitTimer {
  public:
    // The shortest wait. A LAN's round trip is well under a millisecond, so the estimate alone
    // would resend after a few ms; 50 ms stays above the scheduling delays of a busy host and
    // the stalls of a device between two blocks that its samples have not shown yet, and below
    // the ~100 ms after which quick clients repeat their last packet themselves.
    static constexpr int64_t kFloorMs = 50;
    // The wait before anything is measured (RFC 6298 2.1).
    static constexpr int64_t kInitialMs = 1000;

    // A packet that awaits an answer left at nowMs; `resend` when it repeats the one before.
    void Sent(int64_t nowMs, bool resend);
    // The answer to the packet outstanding came at nowMs.
    void Answered(int64_t nowMs);
    // A wait ran out: the next one is twice as long.
    void TimedOut();

    // The round trip's estimate without the doublings: at least the floor, kInitialMs before
    // any sample.
    int64_t EstimateMs() const;
    // How long to wait for the answer of the packet outstanding: at most `boundMs`.
    int64_t WaitMs(int64_t boundMs) const;
    // When the packet outstanding was last sent.
    int64_t SentMs() const { return m_iSentMs; }

  private:
    int64_t m_iSrttMs8 = 0;    // smoothed round trip, eighths of a ms
    int64_t m_iRttvarMs4 = 0;  // its mean deviation, quarters of a ms
    bool m_bSampled = false;
    int m_iBackoff = 0;  // doublings since the last clean sample
    int64_t m_iSentMs = 0;
    bool m_bResent = false;
};

}  // namespace orvane
