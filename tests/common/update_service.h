#pragma once

#include <string>
#include <vector>

#include "common/child_process.h"

namespace orvane::test {

// A stand-in update service (update_service.py), only inside the test's private namespace:
// HTTPS with a certificate for 127.0.0.1 made once per `folder` (services on one folder share
// it and their replies) that Start points the client at; StartPlain serves plain HTTP.
class UpdateService {
  public:
    // False when the certificate could not be made or the service did not start listening.
    bool Start(const std::string& folder, int port = 443, const std::string& address = "127.0.0.1");
    bool StartPlain(const std::string& folder, const std::string& address, int port);

    // The next replies to queries (the reachability check's "/" answers with RootStatus).
    void Reply(const std::string& body, const std::string& status = "200",
               const std::string& mode = "") const;
    void RootStatus(const std::string& status) const;
    // Lets a reply held by mode "hold" send the rest of its body.
    void Release() const;
    // Request heads received since the last Reply, oldest first.
    std::vector<std::string> Requests() const;
    std::string CertificatePath() const { return m_szFolder + "/cert.pem"; }
    std::string KeyPath() const { return m_szFolder + "/key.pem"; }

  private:
    bool Launch(const std::vector<std::string>& args);

    std::string m_szFolder;
    ChildProcess m_process;
};

}  // namespace orvane::test
