// A slow device on a clean link: fetches a file with blksize 1468 (no timeout option) and
// acknowledges each block after a random 0-200 ms, as a device writing its flash between two
// blocks. It never resends anything itself (it gives up after 10 s of silence), so every
// extra copy of a block that arrives was the server's own resend. Prints one line:
//   slow_client blocks=N data=N per_block=X seconds=S
// and exits 1 when the transfer failed.
// Usage: tftp_slow_client SERVER PORT FILE [SEED]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>

namespace {

constexpr unsigned kBlockSize = 1468;
constexpr int kSilenceMs = 10000;

void Put16(uint8_t* p, unsigned v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}

unsigned Get16(const uint8_t* p) {
    return (unsigned{p[0]} << 8) | p[1];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: tftp_slow_client SERVER PORT FILE [SEED]\n");
        return 2;
    }
    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_port = htons(static_cast<uint16_t>(std::atoi(argv[2])));
    if (inet_pton(AF_INET, argv[1], &server.sin_addr) != 1) {
        std::fprintf(stderr, "bad server address\n");
        return 2;
    }
    std::mt19937 random(argc > 4 ? static_cast<unsigned>(std::atoi(argv[4])) : 1u);
    std::uniform_int_distribution<int> delayMs(0, 200);
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) {
        std::perror("socket");
        return 2;
    }
    std::string request("\0\1", 2);
    request += std::string(argv[3]) + '\0' + "octet" + '\0' + "blksize" + '\0' +
               std::to_string(kBlockSize) + '\0';
    const auto start = std::chrono::steady_clock::now();
    sendto(fd, request.data(), request.size(), 0, reinterpret_cast<sockaddr*>(&server),
           sizeof server);

    uint8_t pkt[4 + kBlockSize + 64];
    uint8_t ack[4];
    Put16(ack, 4);
    sockaddr_in transfer{};
    unsigned expected = 1;  // the next block wanted (a bench file stays below 65536 blocks)
    unsigned blocks = 0;
    unsigned data = 0;
    for (bool done = false; !done;) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, kSilenceMs) != 1) {
            std::fprintf(stderr, "silence after block %u\n", expected - 1);
            return 1;
        }
        socklen_t len = sizeof transfer;
        const long n =
            recvfrom(fd, pkt, sizeof pkt, 0, reinterpret_cast<sockaddr*>(&transfer), &len);
        if (n < 4) {
            continue;
        }
        const unsigned op = Get16(pkt);
        if (op == 6) {  // OACK: answered at once, it is no block
            Put16(ack + 2, 0);
        } else if (op == 3) {
            ++data;
            const unsigned block = Get16(pkt + 2);
            if (block == expected) {
                ++blocks;
                ++expected;
                done = n - 4 < static_cast<long>(kBlockSize);
                std::this_thread::sleep_for(std::chrono::milliseconds(delayMs(random)));
            }
            Put16(ack + 2, block);
        } else {
            std::fprintf(stderr, "opcode %u received\n", op);
            return 1;
        }
        sendto(fd, ack, sizeof ack, 0, reinterpret_cast<sockaddr*>(&transfer), sizeof transfer);
    }
    // Copies of the last block sent before its ACK arrived are counted too.
    for (pollfd p{fd, POLLIN, 0}; poll(&p, 1, 500) == 1;) {
        if (recv(fd, pkt, sizeof pkt, 0) >= 4 && Get16(pkt) == 3) {
            ++data;
        }
    }
    close(fd);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("slow_client blocks=%u data=%u per_block=%.3f seconds=%.1f\n", blocks, data,
                static_cast<double>(data) / blocks, seconds);
    return 0;
}
