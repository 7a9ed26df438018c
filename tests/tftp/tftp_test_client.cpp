#include "tftp/tftp_test_client.h"

namespace orvane::test {

namespace {

void PutShort(std::vector<uint8_t>* out, uint32_t value) {
    out->push_back(static_cast<uint8_t>((value >> 8) & 0xFF));
    out->push_back(static_cast<uint8_t>(value & 0xFF));
}

void PutText(std::vector<uint8_t>* out, const std::string& text) {
    out->insert(out->end(), text.begin(), text.end());
    out->push_back(0);
}

}  // namespace

std::string TftpPacket::Text() const {
    if (Opcode() == 6) {
        std::string out;
        bool equals = true;
        for (size_t i = 2; i < bytes.size(); ++i) {
            char c = static_cast<char>(bytes[i]);
            out += c == '\0' ? (equals ? '=' : ',') : c;
            equals = c == '\0' ? !equals : equals;
        }
        return out;
    }
    if (bytes.size() <= 4) {
        return "";
    }
    std::string text(bytes.begin() + 4, bytes.end());
    return text.c_str();
}

std::vector<uint8_t> TftpRequest(uint16_t opcode, const std::string& name, const std::string& mode,
                                 const TftpOptions& options) {
    std::vector<uint8_t> out;
    PutShort(&out, opcode);
    PutText(&out, name);
    PutText(&out, mode);
    for (const auto& [key, value] : options) {
        PutText(&out, key);
        PutText(&out, value);
    }
    return out;
}

TftpTestClient::TftpTestClient(platform::Endpoint server) : m_server(server) {
    m_socket.Open();
    m_socket.Bind(platform::Endpoint{});
}

bool TftpTestClient::SendRequest(const std::vector<uint8_t>& request) {
    return m_socket.SendTo(request.data(), request.size(), m_server) ==
           static_cast<long>(request.size());
}

bool TftpTestClient::SendToTransfer(const std::vector<uint8_t>& packet) {
    return m_socket.SendTo(packet.data(), packet.size(), m_transfer) ==
           static_cast<long>(packet.size());
}

bool TftpTestClient::SendAck(uint16_t block) {
    std::vector<uint8_t> p;
    PutShort(&p, 4);
    PutShort(&p, block);
    return SendToTransfer(p);
}

bool TftpTestClient::SendAckTo(const platform::Endpoint& to, uint16_t block) {
    std::vector<uint8_t> p;
    PutShort(&p, 4);
    PutShort(&p, block);
    return m_socket.SendTo(p.data(), p.size(), to) == static_cast<long>(p.size());
}

bool TftpTestClient::SendData(uint16_t block, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> p;
    PutShort(&p, 3);
    PutShort(&p, block);
    p.insert(p.end(), data.begin(), data.end());
    return SendToTransfer(p);
}

bool TftpTestClient::SendError(int code, const std::string& text) {
    std::vector<uint8_t> p;
    PutShort(&p, 5);
    PutShort(&p, static_cast<uint32_t>(code));
    PutText(&p, text);
    return SendToTransfer(p);
}

bool TftpTestClient::Receive(TftpPacket* packet, int timeoutMs) {
    if (m_socket.WaitReadable(timeoutMs) != 1) {
        return false;
    }
    packet->bytes.assign(65536, 0);
    long n = m_socket.ReceiveFrom(packet->bytes.data(), packet->bytes.size(), &packet->from);
    if (n < 0) {
        return false;
    }
    packet->bytes.resize(static_cast<size_t>(n));
    if (m_transfer.port == 0) {
        m_transfer = packet->from;
    }
    return true;
}

bool TftpTestClient::Download(std::string* content, uint32_t blockSize, int timeoutMs) {
    content->clear();
    uint16_t expected = 1;
    // Bounded: a file of this test suite never has more than 2^20 blocks.
    for (int packets = 0; packets < (1 << 20); ++packets) {
        TftpPacket p;
        if (!Receive(&p, timeoutMs)) {
            return false;
        }
        if (p.Opcode() == 6) {
            SendAck(0);
            continue;
        }
        if (p.Opcode() != 3) {
            return false;
        }
        if (p.Block() == expected) {
            content->append(p.bytes.begin() + 4, p.bytes.end());
            ++expected;
        }
        SendAck(p.Block());
        if (p.Block() == static_cast<uint16_t>(expected - 1) && p.DataLength() < blockSize) {
            return true;
        }
    }
    return false;
}

}  // namespace orvane::test
