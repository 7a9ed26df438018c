#pragma once

#include <string>
#include <vector>

namespace orvane::test {

// A second host: a network namespace joined to the caller's by a veth pair (local end
// `localCidr`, peer end `peerCidr`, all up), deleted with the object. Needs root; names carry
// the pid and a counter, so parallel test programs never collide.
class PeerNamespace {
  public:
    PeerNamespace(const std::string& localCidr, const std::string& peerCidr);
    ~PeerNamespace();
    PeerNamespace(const PeerNamespace&) = delete;
    PeerNamespace& operator=(const PeerNamespace&) = delete;

    // Whether every step of the set-up succeeded.
    bool Ok() const { return m_bOk; }
    const std::string& Name() const { return m_szName; }
    const std::string& LocalInterface() const { return m_szLocalIf; }
    const std::string& PeerInterface() const { return m_szPeerIf; }
    // Runs a command inside the peer namespace; its exit status.
    int Exec(const std::vector<std::string>& argv) const;
    // Waits (3 s at most) until the local end is running or not: its carrier follows the peer
    // end a moment later, and a service started before it would be refused.
    bool WaitLocalRunning(bool running = true) const;

  private:
    bool m_bOk = false;
    bool m_bCreated = false;
    std::string m_szName;
    std::string m_szLocalIf;
    std::string m_szPeerIf;
};

// Full path of a system tool (ip, iptables) in the sbin/bin folders; empty when absent.
std::string SystemTool(const std::string& name);

}  // namespace orvane::test
