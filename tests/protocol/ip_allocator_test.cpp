#include "protocol/ip_allocator.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "protocol/ping_api.h"

namespace orvane {
namespace {

std::string Host(int n) {
    return "10.0.0." + std::to_string(n);
}

// Catches either walk handing out the server's own address, 250 or an answering one, giving up
// early or late, or moving the cursor wrongly. Addresses are host numbers of 10.0.0.0/24.
TEST(IpAllocatorTest, AddressWalk) {
    struct Case {
        const char* what;
        bool detection;
        int local, cursor;           // cursor 0: as Start forms it
        std::map<int, int> answers;  // host number -> probe result; others: no answer
        std::vector<int> handedOut;  // one allocation each; 0: it fails
        std::vector<int> probed;
        int after;
    };
    std::map<int, int> nineBusy;
    std::vector<int> nine;
    for (int n = 10; n < 19; ++n) {
        nineBusy[n] = 5;
        nine.push_back(n);
    }
    const Case cases[] = {
        {"start on .7", false, 7, 0, {}, {10, 11, 12}, {}, 13},
        {"start on .10 skips .10", false, 10, 0, {}, {11, 12}, {}, 13},
        {"own number in the middle", false, 11, 0, {}, {10, 12}, {}, 13},
        {"249 then wrap", false, 7, 249, {}, {249, 10}, {}, 11},
        {"250 is never handed out", false, 7, 250, {}, {10}, {}, 11},
        {"own 249 at 249", false, 249, 249, {}, {10}, {}, 11},
        {"wrap onto own .10", false, 10, 250, {}, {11}, {}, 12},
        {"nobody answers", true, 7, 10, {}, {10}, {10}, 13},
        {"busy first candidate", true, 7, 10, {{10, 3}}, {11}, {10, 11}, 13},
        {"whole batch busy", true, 7, 10, {{10, 1}, {11, 2}, {12, 1}}, {13}, {10, 11, 12, 13}, 16},
        {"nine busy", true, 7, 10, nineBusy, {0}, nine, 19},
        {"time exceeded is free", true, 7, 20, {{20, kPingTimeExceeded}}, {20}, {20}, 23},
        {"unreachable is free", true, 7, 20, {{20, kPingUnreachable}}, {20}, {20}, 23},
        {"probe errors are not free",
         true,
         7,
         20,
         {{20, kPingSocketDenied}, {21, kPingSendFailed}, {22, kPingReceiveFailed}},
         {23},
         {20, 21, 22, 23},
         26},
        {"own address and 250 are candidates", true, 249, 249, {{249, 1}}, {250}, {249, 250}, 11},
        {"a batch from 250 wraps to 10", true, 7, 250, {{250, 1}}, {10}, {250, 10}, 12},
    };
    for (const Case& c : cases) {
        std::vector<std::string> probed, got, handedOut, expectProbed;
        IpAllocator alloc([detection = c.detection] { return detection; },
                          [&](uint32_t addr) {  // asked one at a time
                              const int n = static_cast<int>(addr & 0xFF);
                              probed.push_back(Host(n));
                              return c.answers.count(n) ? c.answers.at(n) : kPingNoAnswer;
                          });
        alloc.SetNextIP(c.cursor ? Host(c.cursor) : MakeAllocationCursor(Host(c.local)));
        for (int n : c.handedOut) {
            char ip[kAllocIpSize] = "stale";
            const int rc = alloc.GetNotUseIp(ip, Host(c.local).c_str(), 1);
            got.push_back(rc == 0 ? std::string(ip) : "rc=" + std::to_string(rc) + " ip=" + ip);
            handedOut.push_back(n ? Host(n) : "rc=-1 ip=");
        }
        for (int n : c.probed) {
            expectProbed.push_back(Host(n));
        }
        EXPECT_EQ(got, handedOut) << c.what;
        EXPECT_EQ(probed, expectProbed) << c.what;
        EXPECT_EQ(alloc.NextIP(), Host(c.after)) << c.what;
    }
}

}  // namespace
}  // namespace orvane
