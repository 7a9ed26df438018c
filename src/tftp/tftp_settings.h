#pragma once

// What the TFTP service is told when it starts, and the values that never change.

#include <algorithm>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/file.h"

namespace orvane {

// Fixed values of the service.
struct TftpConfig {
    static constexpr int kPort = 69;
    static constexpr int kTimeoutSeconds = 5;
    static constexpr int kRetransmitLimit = 6;
    // Transfer records at most unless told otherwise: a shelf of devices powered on at once.
    static constexpr size_t kRecordLimit = 1000;
    // Transfers at once from one client address: one host must not take every record.
    static constexpr size_t kTransfersPerAddress = 8;
    static constexpr int kPermanentWorkers = 30;
    static constexpr int kMainWaitMs = 2000;
    static constexpr size_t kMaxRoot = 259;
    static constexpr size_t kMaxBindAddress = 131;
};

// The file versions a signed list vouched for, set by whoever checked them and read by every
// read request: while it is on, a file is served only when what the request opened is one of
// them (another file put under the name, or the file written since, is not).
class TftpVouchedFiles {
  public:
    void Set(bool on, std::vector<platform::FileVersion> versions) {
        std::lock_guard<std::mutex> lock(m_cs);
        m_bOn = on;
        m_vecVersions = std::move(versions);
    }
    // Whether a file of `version` may be served.
    bool Allows(const platform::FileVersion& version) const {
        std::lock_guard<std::mutex> lock(m_cs);
        return !m_bOn || std::find(m_vecVersions.begin(), m_vecVersions.end(), version) !=
                             m_vecVersions.end();
    }

  private:
    mutable std::mutex m_cs;
    bool m_bOn = false;
    std::vector<platform::FileVersion> m_vecVersions;
};

// The settings a TftpService runs with. The listening socket is made from `bindAddress` and
// `port` when the service starts; everything else is read afresh for each request, so a Start
// on a running service changes it for the requests that follow.
struct TftpSettings {
    // Base of every requested name; taken only when it names an existing folder of at most
    // TftpConfig::kMaxRoot characters (else the service keeps its previous root, "." at first).
    std::string root;
    // Local address of the listening socket; taken only when it begins with a digit (else
    // every local address is served), cut to TftpConfig::kMaxBindAddress characters.
    std::string bindAddress;
    // Whether write requests are served; false refuses each with ERROR 2. Off unless asked
    // for, as the program's own setting is.
    bool writeAllowed = false;
    // Tests and benchmarks move the service off the privileged port.
    int port = TftpConfig::kPort;
    // Length in ms of one second of the transfers' time-outs; tests shorten it so that a
    // silent client's six waits pass in a moment.
    int secondMs = 1000;
    // Transfers at once (finished ones whose thread is not yet collected included); a request
    // beyond is dropped.
    size_t maxTransfers = TftpConfig::kRecordLimit;
    // Transfers at once from one client address; a request beyond gets ERROR 0. Benchmarks
    // whose clients all share one address raise it.
    size_t transfersPerAddress = TftpConfig::kTransfersPerAddress;
    // The largest windowsize granted (1..65535): a client asking more gets this. Each block of
    // a window leaves at once, so a device's download is no longer capped at one block per
    // round trip; the bound keeps one client from filling the link with a single window.
    uint32_t maxWindow = 64;
    // Files and folders never served nor replaced: the program's own (its settings, its log,
    // its crash records, the program file). A folder covers everything beneath it. Compared
    // with what a request really reaches (links resolved, the same file under another name
    // or letter case included), so the names may be given as the program knows them.
    std::vector<std::string> protectedPaths;
    // While set and on, only these files are served; a request for any other gets ERROR 2 and
    // is told to `onRefused` (the client's address and the name it asked for), on the
    // transfer's thread.
    std::shared_ptr<const TftpVouchedFiles> vouched;
    std::function<void(const std::string& peerAddress, const std::string& fileName)> onRefused;
};

}  // namespace orvane
