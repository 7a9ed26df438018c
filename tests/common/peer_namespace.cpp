#include "common/peer_namespace.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <thread>

#include "common/child_process.h"
#include "common/wait_until.h"
#include "platform/net_interfaces.h"

namespace orvane::test {

namespace {

std::atomic<int> g_iCounter{0};

int Run(const std::vector<std::string>& argv) {
    return RunCommand(argv, nullptr, 10000);
}

}  // namespace

std::string SystemTool(const std::string& name) {
    for (const char* dir : {"/usr/sbin/", "/sbin/", "/usr/bin/", "/bin/"}) {
        std::string path = dir + name;
        if (access(path.c_str(), X_OK) == 0) {
            return path;
        }
    }
    return "";
}

PeerNamespace::PeerNamespace(const std::string& localCidr, const std::string& peerCidr) {
    const std::string ip = SystemTool("ip");
    if (ip.empty()) {
        return;
    }
    const std::string id = std::to_string(getpid()) + "x" + std::to_string(++g_iCounter);
    m_szName = "orvane-peer-" + id;
    m_szLocalIf = "ovl" + id;  // interface names: at most 15 characters
    m_szPeerIf = "ovp" + id;
    if (Run({ip, "netns", "add", m_szName}) != 0) {
        return;
    }
    m_bCreated = true;
    m_bOk = Run({ip, "link", "add", m_szLocalIf, "type", "veth", "peer", "name", m_szPeerIf,
                 "netns", m_szName}) == 0 &&
            Run({ip, "addr", "add", localCidr, "dev", m_szLocalIf}) == 0 &&
            Run({ip, "link", "set", m_szLocalIf, "up"}) == 0 &&
            Run({ip, "-n", m_szName, "addr", "add", peerCidr, "dev", m_szPeerIf}) == 0 &&
            Run({ip, "-n", m_szName, "link", "set", m_szPeerIf, "up"}) == 0 &&
            Run({ip, "-n", m_szName, "link", "set", "lo", "up"}) == 0;
}

PeerNamespace::~PeerNamespace() {
    if (m_bCreated) {
        Run({SystemTool("ip"), "netns", "delete", m_szName});
    }
}

int PeerNamespace::Exec(const std::vector<std::string>& argv) const {
    std::vector<std::string> full = {SystemTool("ip"), "netns", "exec", m_szName};
    full.insert(full.end(), argv.begin(), argv.end());
    return Run(full);
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

std::string PeerNamespace::LocalMac() const {
    std::string out;
    RunCommand({SystemTool("ip"), "-o", "link", "show", "dev", m_szLocalIf}, &out, 10000);
    const size_t at = out.find("link/ether ");
    std::string mac = at == std::string::npos ? "" : out.substr(at + 11, 17);
    for (char& c : mac) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return mac;
}

}  // namespace orvane::test
