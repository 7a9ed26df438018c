#include "web/web_gate.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/netns.h"
#include "web/web_view.h"

namespace orvane {
namespace {

// A client socket from a loopback address of its own to the gate.
struct Client {
    Client(uint32_t source, int port) {
        fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(source);
        bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        a.sin_addr.s_addr = htonl(0x7F000001u);
        a.sin_port = htons(static_cast<uint16_t>(port));
        connected = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    ~Client() { close(fd); }
    bool Send(const std::string& s) { return send(fd, s.data(), s.size(), MSG_NOSIGNAL) > 0; }
    // What arrives until the gate closes (or waitMs passes): "" when it closed without a word.
    std::string Answer(int waitMs) {
        std::string got;
        char buf[512];
        pollfd p{fd, POLLIN, 0};
        while (poll(&p, 1, waitMs) == 1) {
            const ssize_t n = recv(fd, buf, sizeof buf, 0);
            if (n <= 0) {
                return got;
            }
            got.append(buf, static_cast<size_t>(n));
        }
        return "open";
    }
    int fd = -1;
    bool connected = false;
};

// Catches a slow or endless head holding the gate, a whole request kept waiting behind them,
// heads that outlive their time or size, and one address taking more than its share.
TEST(WebGateTest, SlowAndEndlessHeadsHoldNothingAndEndInTime) {
    ORVANE_REQUIRE_PRIVATE_NETWORK();
    WebGate gate(GateLimits{1024, 600, 4, 256});
    std::string error;
    ASSERT_TRUE(gate.Listen("127.0.0.1", 0, &error)) << error;
    std::mutex cs;
    std::condition_variable cv;
    std::vector<std::string> heads;
    gate.Start([&](std::unique_ptr<HeldRequest>& r) {
        std::lock_guard<std::mutex> lock(cs);
        heads.push_back(r->szHead);
        gate.Release(r->szPeerHost);
        r.reset();
        cv.notify_all();
        return true;
    });
    std::vector<std::unique_ptr<Client>> slow;
    for (uint32_t i = 0; i < 20; ++i) {
        slow.push_back(std::make_unique<Client>(0x7F000010u + i, gate.Port()));
        ASSERT_TRUE(slow.back()->connected && slow.back()->Send("GET / HTTP/1.1\r\nX-a: "));
    }
    Client endless(0x7F000002u, gate.Port());
    ASSERT_TRUE(endless.Send("GET / HTTP/1.1\r\n" + std::string(2000, 'h')));
    Client whole(0x7F000001u, gate.Port());
    ASSERT_TRUE(whole.Send("GET /api/devices HTTP/1.1\r\nHost: x\r\n\r\n"));
    {
        std::unique_lock<std::mutex> lock(cs);
        ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(1), [&] { return !heads.empty(); }));
        EXPECT_EQ(heads[0], "GET /api/devices HTTP/1.1\r\nHost: x\r\n\r\n");
    }
    EXPECT_EQ(endless.Answer(1000).substr(0, 12), "HTTP/1.1 431");
    std::vector<std::unique_ptr<Client>> crowd;  // four from one address at most
    for (int i = 0; i < 5; ++i) {
        crowd.push_back(std::make_unique<Client>(0x7F000003u, gate.Port()));
    }
    EXPECT_EQ(crowd[4]->Answer(1000), "");
    for (auto& c : slow) {
        c->Send("b");  // a byte now and then does not buy more time
        EXPECT_EQ(c->Answer(2000).substr(0, 12), "HTTP/1.1 408");
    }
    gate.Stop();
}

// Catches a foreign Host answered (DNS rebinding), or this service's own names refused.
TEST(WebGateTest, OnlyTheServicesOwnHostNamesAreServed) {
    const std::vector<std::string> names = {"cams.local"};
    const struct {
        const char* header;
        const char* local;
        int port;
        bool served;
    } cases[] = {
        {"127.0.0.1:8069", "127.0.0.1", 8069, true},
        {"LOCALHOST:8069", "127.0.0.1", 8069, true},
        {"cams.local:8069", "10.0.0.5", 8069, true},
        {"[::1]:8069", "::1", 8069, true},
        {"10.0.0.5", "10.0.0.5", 80, true},     // the default port is not written
        {"10.0.0.5", "10.0.0.5", 8069, false},  // nor assumed elsewhere
        {"evil.example:8069", "127.0.0.1", 8069, false},
        {"127.0.0.1:8070", "127.0.0.1", 8069, false},
        {"cams.local.evil.example:8069", "127.0.0.1", 8069, false},
        {"", "127.0.0.1", 8069, false},
        {"127.0.0.1:", "127.0.0.1", 8069, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsServedHost(c.header, c.local, c.port, names), c.served) << c.header;
    }
}

}  // namespace
}  // namespace orvane
