#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/udp_socket.h"

namespace orvane::test {

// One received TFTP packet.
struct TftpPacket {
    std::vector<uint8_t> bytes;
    platform::Endpoint from;

    uint16_t Opcode() const { return bytes.size() >= 2 ? (bytes[0] << 8) | bytes[1] : 0; }
    uint16_t Block() const { return bytes.size() >= 4 ? (bytes[2] << 8) | bytes[3] : 0; }
    int ErrorCode() const { return Block(); }
    std::string Text() const;  // an ERROR's message, an OACK's options printed name=value,
    size_t DataLength() const { return bytes.size() >= 4 ? bytes.size() - 4 : 0; }
};

using TftpOptions = std::vector<std::pair<std::string, std::string>>;

// The request datagram: opcode, name NUL, mode NUL, then the options.
std::vector<uint8_t> TftpRequest(uint16_t opcode, const std::string& name,
                                 const std::string& mode = "octet",
                                 const TftpOptions& options = {});

// A hand-driven TFTP client for what no real client produces: it sends exactly what a test
// tells it to and reports exactly what came back.
class TftpTestClient {
  public:
    explicit TftpTestClient(platform::Endpoint server = platform::Endpoint{0x7F000001u, 69});

    bool SendRequest(const std::vector<uint8_t>& request);
    // Sends to the transfer port learnt from the first reply.
    bool SendAck(uint16_t block);
    // Sends an ACK to another of the server's transfer ports.
    bool SendAckTo(const platform::Endpoint& to, uint16_t block);
    bool SendData(uint16_t block, const std::vector<uint8_t>& data);
    bool SendError(int code, const std::string& text);

    // Waits up to timeoutMs for one packet; false on time-out. The first packet's source is
    // taken as the transfer port.
    bool Receive(TftpPacket* packet, int timeoutMs);

    // Runs a whole read after the request was sent: acknowledges every block (and an OACK
    // with ACK 0) until a short block. False on ERROR or silence; the file in `content`.
    bool Download(std::string* content, uint32_t blockSize, int timeoutMs = 5000);

    platform::Endpoint Transfer() const { return m_transfer; }

  private:
    bool SendToTransfer(const std::vector<uint8_t>& packet);

    platform::UdpSocket m_socket;
    platform::Endpoint m_server;
    platform::Endpoint m_transfer;
};

}  // namespace orvane::test
