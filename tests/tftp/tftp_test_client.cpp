#include "tftp/tftp_fixture.h"

namespace orvane::test {

TftpTestClient::TftpTestClient(platform::Endpoint server, uint32_t source) : m_server(server) {
    m_socket.Open();
    m_socket.Bind(platform::Endpoint{source, 0});
}

uint16_t TftpTestClient::Port() const {
    platform::Endpoint local;
    return m_socket.LocalEndpoint(&local) ? local.port : 0;
}

bool TftpTestClient::SendRequest(const std::string& wire) {
    const std::vector<uint8_t> request = Wire(wire);
    return m_socket.SendTo(request.data(), request.size(), m_server) ==
           static_cast<long>(request.size());
}

bool TftpTestClient::Send(uint16_t opcode, uint16_t number, const std::string& payload) {
    std::string p = {0, static_cast<char>(opcode), static_cast<char>(number >> 8),
                     static_cast<char>(number & 0xFF)};
    p += payload;
    return m_socket.SendTo(p.data(), p.size(), m_transfer) == static_cast<long>(p.size());
}

std::string TftpTestClient::Next(int timeoutMs) {
    static thread_local char buffer[65536];
    long n = m_socket.WaitReadable(timeoutMs) == 1
                 ? m_socket.ReceiveFrom(buffer, sizeof buffer, &m_from)
                 : -1;
    if (n < 4 && !(n >= 2 && buffer[1] == 6)) {
        return "";
    }
    if (m_transfer.port == 0) {
        m_transfer = m_from;
    }
    const char* names[] = {"?", "RRQ", "WRQ", "DATA", "ACK", "ERROR", "OACK"};
    const std::string name = names[buffer[1] >= 1 && buffer[1] <= 6 ? buffer[1] : 0];
    if (buffer[1] == 6) {
        std::string options;
        for (long i = 2, value = 0; i < n; ++i) {
            options += buffer[i] != '\0' ? buffer[i] : (value++ % 2 ? ',' : '=');
        }
        m_szPayload.clear();
        return name + " " + options;
    }
    m_szPayload.assign(buffer + 4, buffer + n);
    return name + " " + std::to_string((uint8_t(buffer[2]) << 8) | uint8_t(buffer[3]));
}

bool TftpTestClient::Download(std::string* content, uint32_t blockSize, std::string* oack) {
    content->clear();
    uint16_t expected = 1;
    // Bounded: a file of this test suite never has more than 2^20 blocks.
    for (int packets = 0; packets < (1 << 20); ++packets) {
        const std::string head = Next();
        if (head.rfind("OACK ", 0) == 0) {
            if (oack) {
                *oack = head.substr(5);
            }
            SendAck(0);
            continue;
        }
        if (head.rfind("DATA ", 0) != 0) {
            return false;
        }
        const uint16_t block = static_cast<uint16_t>(std::stoi(head.substr(5)));
        if (block == expected) {
            *content += m_szPayload;
            ++expected;
        }
        SendAck(block);
        if (block == static_cast<uint16_t>(expected - 1) && m_szPayload.size() < blockSize) {
            return true;
        }
    }
    return false;
}

}  // namespace orvane::test
