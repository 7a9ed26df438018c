#include "tftp/tftp_retransmit_timer.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace orvane {
namespace {

// Catches waits that leave the round trip (resending too soon or too late), the 50 ms floor or
// a bound not held, a doubling not kept until a clean sample, and samples taken from resent
// packets (Karn's rule), which would shrink the wait to a copy's short round trip.
TEST(TftpRetransmitTimerTest, WaitsFollowTheRoundTripWithinFloorAndBound) {
    // A transfer's clock: "S<ms>" a packet sent, "R<ms>" one resent, "A<ms>" its answer, "T0"
    // a wait ran out, "W<bound>:<wait>" the wait asked with that bound.
    const std::pair<const char*, const char*> cases[] = {
        {"nothing measured yet: 1 s, doubled, within the bound",
         "W2000:1000 T0 W3000:2000 W500:500"},
        {"a LAN's round trip is held up to the floor", "S0 A1 W2000:50"},
        {"each time-out doubles, up to the bound", "S0 A1 T0 W2000:100 T0 W2000:200 W150:150"},
        {"a bound below the floor wins", "S0 A1 W20:20"},
        // RFC 6298: first sample R gives R + 4 R/2; the next equal one shrinks the variation.
        {"a slow device's 100 ms", "S0 A100 W2000:300 S100 A200 W2000:250"},
        // SRTT 1 + 399 / 8 = 51 (rounded up), 4 RTTVAR = 2 - 0 + 399.
        {"a long stall raises the wait at once", "S0 A1 S10 A410 W5000:452"},
        {"Karn: the answer to a copy is no sample", "S0 T0 R1000 A1001 W5000:2000"},
        {"Karn: the doubling stays until a clean sample",
         "S0 A10 S20 T0 R70 A71 S80 W2000:100 A81 W2000:50"},
    };
    for (const auto& [name, steps] : cases) {
        SCOPED_TRACE(name);
        TftpRetransmitTimer timer;
        std::istringstream in(steps);
        char op = 0;
        int64_t ms = 0;
        int64_t wait = 0;
        while (in >> op >> ms) {
            if (op == 'S' || op == 'R') {
                timer.Sent(ms, op == 'R');
            } else if (op == 'A') {
                timer.Answered(ms);
            } else if (op == 'T') {
                timer.TimedOut();
            } else if (in.ignore(1) >> wait) {
                EXPECT_EQ(timer.WaitMs(ms), wait) << "W" << ms;
            }
        }
    }
}

}  // namespace
}  // namespace orvane
