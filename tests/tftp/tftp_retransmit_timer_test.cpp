#include "tftp/tftp_retransmit_timer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace orvane {
namespace {

// One event of a transfer's clock: 'S' a packet sent, 'R' one resent, 'A' its answer,
// 'T' a wait ran out, 'W' the wait asked with bound `ms` must be `wait`.
struct Step {
    char op;
    int64_t ms;  // the time of S, R and A; the bound of W
    int64_t wait = 0;
};

// Catches waits that leave the round trip (resending too soon or too late), a floor or a bound
// not held, a doubling that is not kept until a clean sample, and samples taken from resent
// packets (Karn's rule), which would shrink the wait to a copy's short round trip.
TEST(TftpRetransmitTimerTest, WaitsFollowTheRoundTripWithinFloorAndBound) {
    const int64_t floor = TftpRetransmitTimer::kFloorMs;
    struct Case {
        std::string name;
        std::vector<Step> steps;
    } cases[] = {
        {"nothing measured yet: 1 s, doubled, within the bound",
         {{'W', 2000, 1000}, {'T', 0}, {'W', 3000, 2000}, {'W', 500, 500}}},
        {"a LAN's round trip is held up to the floor", {{'S', 0}, {'A', 1}, {'W', 2000, floor}}},
        {"each time-out doubles, up to the bound",
         {{'S', 0},
          {'A', 1},
          {'T', 0},
          {'W', 2000, 2 * floor},
          {'T', 0},
          {'W', 2000, 4 * floor},
          {'W', 150, 150}}},
        {"a bound below the floor wins", {{'S', 0}, {'A', 1}, {'W', 20, 20}}},
        // RFC 6298: first sample R gives R + 4 R/2; the next equal one shrinks the variation.
        {"a slow device's 100 ms",
         {{'S', 0}, {'A', 100}, {'W', 2000, 300}, {'S', 100}, {'A', 200}, {'W', 2000, 250}}},
        // SRTT 1 + 399 / 8 = 51 (rounded up), 4 RTTVAR = 2 - 0 + 399.
        {"a long stall raises the wait at once",
         {{'S', 0}, {'A', 1}, {'S', 10}, {'A', 410}, {'W', 5000, 452}}},
        {"Karn: the answer to a copy is no sample",
         {{'S', 0}, {'T', 0}, {'R', 1000}, {'A', 1001}, {'W', 5000, 2000}}},
        {"Karn: the doubling stays until a clean sample",
         {{'S', 0},
          {'A', 10},
          {'S', 20},
          {'T', 0},
          {'R', 70},
          {'A', 71},
          {'S', 80},
          {'W', 2000, 2 * floor},
          {'A', 81},
          {'W', 2000, floor}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TftpRetransmitTimer timer;
        for (const Step& s : c.steps) {
            switch (s.op) {
                case 'S':
                    timer.Sent(s.ms, false);
                    break;
                case 'R':
                    timer.Sent(s.ms, true);
                    break;
                case 'A':
                    timer.Answered(s.ms);
                    break;
                case 'T':
                    timer.TimedOut();
                    break;
                case 'W':
                    EXPECT_EQ(timer.WaitMs(s.ms), s.wait);
                    break;
            }
        }
    }
}

}  // namespace
}  // namespace orvane
