#pragma once

#include <cstddef>
#include <string>

namespace orvane {

// Where the request handling's replies go: a broadcast on the LAN, or a test's record.
class ReplySender {
  public:
    virtual ~ReplySender() = default;
    // Sends the text and its NUL; the outcome is not examined (the device asks again).
    virtual void SendToIPC(const std::string& reply) = 0;
};

// Broadcasts `len` bytes of text and its NUL to 255.255.255.255:10010 from `localIP`.
// 0 after one send attempt; -1 no socket; -2 bind failed.
int SendToIPC(const std::string& localIP, const char* text, size_t len);

// The replies of a run, from the serving address as StartService set it.
class BroadcastReplySender final : public ReplySender {
  public:
    explicit BroadcastReplySender(const std::string& localIP) : m_szLocalIP(localIP) {}
    void SendToIPC(const std::string& reply) override {
        orvane::SendToIPC(m_szLocalIP, reply.c_str(), reply.size());
    }

  private:
    const std::string& m_szLocalIP;  // the engine's, constant while the run's threads read it
};

}  // namespace orvane
