#include "tftp/tftp_retransmit_timer.h"

#include <algorithm>

namespace orvane {

namespace {

// Past this many doublings every wait is held by its bound anyway; it keeps the shift defined.
constexpr int kMaxBackoff = 16;

}  // namespace

void TftpRetransmitTimer::Sent(int64_t nowMs, bool resend) {
    m_iSentMs = nowMs;
    m_bResent = resend;
}

void TftpRetransmitTimer::Answered(int64_t nowMs) {
    if (m_bResent) {
        return;  // Karn's rule: no sample, and the doubled wait stays for the next packet
    }
    const int64_t rtt = std::max<int64_t>(nowMs - m_iSentMs, 0);
    // RFC 6298 2.2 and 2.3 with alpha 1/8 and beta 1/4, in scaled integers.
    if (!m_bSampled) {
        m_iSrttMs8 = rtt * 8;
        m_iRttvarMs4 = rtt * 2;
        m_bSampled = true;
    } else {
        const int64_t error = rtt - m_iSrttMs8 / 8;
        m_iSrttMs8 += error;
        m_iRttvarMs4 += (error < 0 ? -error : error) - m_iRttvarMs4 / 4;
    }
    m_iBackoff = 0;
}

void TftpRetransmitTimer::TimedOut() {
    m_iBackoff = std::min(m_iBackoff + 1, kMaxBackoff);
}

int64_t TftpRetransmitTimer::EstimateMs() const {
    // RFC 6298 2.3: SRTT + 4 RTTVAR (RTTVAR is kept in quarters, so 4 RTTVAR is that value),
    // rounded up so that a sample of a whole ms never gives a wait below it.
    const int64_t estimate = m_bSampled ? (m_iSrttMs8 + 7) / 8 + m_iRttvarMs4 : kInitialMs;
    return std::max(estimate, kFloorMs);
}

int64_t TftpRetransmitTimer::WaitMs(int64_t boundMs) const {
    return std::min(EstimateMs() << m_iBackoff, boundMs);
}

}  // namespace orvane
