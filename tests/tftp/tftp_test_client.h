#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/udp_socket.h"

namespace orvane::test {

using TftpOptions = std::vector<std::pair<std::string, std::string>>;

// The request datagram: opcode, name NUL, mode NUL, then the options.
std::vector<uint8_t> TftpRequest(uint16_t opcode, const std::string& name,
                                 const std::string& mode = "octet",
                                 const TftpOptions& options = {});

// A hand-driven TFTP client for what no real client produces: it sends exactly what a test
// tells it to and reports exactly what came back. The first reply's source is taken as the
// transfer port, where the Send calls go unless told otherwise.
class TftpTestClient {
  public:
    // Sends from `source` (host order; 0 any local address).
    explicit TftpTestClient(platform::Endpoint server = platform::Endpoint{0x7F000001u, 69},
                            uint32_t source = 0);

    bool SendRequest(const std::vector<uint8_t>& request);
    bool SendAck(uint16_t block, const platform::Endpoint* to = nullptr);
    bool SendData(uint16_t block, const std::string& data);
    bool SendError(int code, const std::string& text);

    // Waits up to timeoutMs for one packet: "DATA n", "ACK n", "ERROR n" (n its block number
    // or error code), "OACK " and its options printed name=value, ...; "" on silence.
    std::string Next(int timeoutMs = 5000);
    // The last packet's payload behind opcode and number, and its source.
    const std::string& Payload() const { return m_szPayload; }
    const platform::Endpoint& From() const { return m_from; }
    uint16_t Port() const;

    // Runs a whole read after the request was sent: acknowledges every block (and an OACK,
    // whose text goes to `oack`, with ACK 0) until a short block. False on ERROR or silence.
    bool Download(std::string* content, uint32_t blockSize, std::string* oack = nullptr);

  private:
    bool Send(uint16_t opcode, uint16_t number, const std::string& payload,
              const platform::Endpoint& to);

    platform::UdpSocket m_socket;
    platform::Endpoint m_server;
    platform::Endpoint m_transfer;
    platform::Endpoint m_from;
    std::string m_szPayload;
};

}  // namespace orvane::test
