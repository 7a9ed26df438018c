#pragma once

#include <string>
#include <vector>

#include "common/child_process.h"

namespace orvane::test {

// A stand-in update service: HTTPS on 127.0.0.1:`port` with a self-signed certificate made
// in `folder`, replying from files there (see update_service.py); or, started plain, a
// download server. Start it only inside the
// test's private network namespace. Points the client at it: ORVANE_UPDATE_HOST=127.0.0.1 and
// CURL_CA_BUNDLE=its certificate. Ended (by its pid) with the object.
class UpdateService {
  public:
    // False when the certificate could not be made or the service did not start listening.
    // `address` is where it listens; its certificate always names 127.0.0.1 (made once per
    // folder: services started on one folder share it, and their replies).
    bool Start(const std::string& folder, int port = 443, const std::string& address = "127.0.0.1");
    // The same replies as plain HTTP on `address`:`port` (a download server); the client's
    // settings are left alone.
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
    void WriteFile(const std::string& name, const std::string& content) const;

    std::string m_szFolder;
    ChildProcess m_process;
};

}  // namespace orvane::test
