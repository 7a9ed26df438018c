#include "common/peer_namespace.h"

#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>

#include "common/child_process.h"
#include "common/netns.h"
#include "common/wait_until.h"
#include "platform/net_interfaces.h"

namespace orvane::test {

namespace {
bool g_bInPrivateNetwork = false;
std::atomic<int> g_iCounter{0};
}  // namespace

bool EnterPrivateNetwork() {
    g_bInPrivateNetwork = unshare(CLONE_NEWNET) == 0 &&
                          RunCommand({SystemTool("ip"), "link", "set", "lo", "up"}) == 0;
    return g_bInPrivateNetwork;
}

bool InPrivateNetwork() {
    return g_bInPrivateNetwork;
}

std::string SystemTool(const std::string& name) {
    for (const char* dir : {"/usr/sbin/", "/sbin/", "/usr/bin/", "/bin/"}) {
        if (access((dir + name).c_str(), X_OK) == 0) {
            return dir + name;
        }
    }
    return "";
}

PeerNamespace::PeerNamespace(const std::string& localCidr, const std::string& peerCidr) {
    const std::string ip = SystemTool("ip");
    const std::string id = std::to_string(getpid()) + "x" + std::to_string(++g_iCounter);
    m_szName = "orvane-peer-" + id;
    m_szLocalIf = "ovl" + id;  // interface names: at most 15 characters
    m_szPeerIf = "ovp" + id;
    m_bCreated = RunCommand({ip, "netns", "add", m_szName}) == 0;
    m_bOk = m_bCreated &&
            RunCommand({ip, "link", "add", m_szLocalIf, "type", "veth", "peer", "name", m_szPeerIf,
                        "netns", m_szName}) == 0 &&
            RunCommand({ip, "addr", "add", localCidr, "dev", m_szLocalIf}) == 0 &&
            RunCommand({ip, "link", "set", m_szLocalIf, "up"}) == 0 &&
            RunCommand({ip, "-n", m_szName, "addr", "add", peerCidr, "dev", m_szPeerIf}) == 0 &&
            RunCommand({ip, "-n", m_szName, "link", "set", m_szPeerIf, "up"}) == 0 &&
            RunCommand({ip, "-n", m_szName, "link", "set", "lo", "up"}) == 0;
}

PeerNamespace::~PeerNamespace() {
    if (m_bCreated) {
        RunCommand({SystemTool("ip"), "netns", "delete", m_szName});
    }
}

int PeerNamespace::Exec(const std::vector<std::string>& argv) const {
    std::vector<std::string> full = {SystemTool("ip"), "netns", "exec", m_szName};
    full.insert(full.end(), argv.begin(), argv.end());
    return RunCommand(full);
}

bool PeerNamespace::WaitLocalRunning(bool running) const {
    return WaitUntil(
        [&] {
            std::vector<platform::NetInterface> all;
            platform::ListNetInterfaces(&all);
            return std::any_of(all.begin(), all.end(), [&](const platform::NetInterface& nif) {
                return nif.szName == m_szLocalIf && nif.bUp == running;
            });
        },
        3000);
}

}  // namespace orvane::test
