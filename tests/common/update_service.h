#pragma once

#include <memory>
#include <string>
#include <vector>

namespace orvane::test {

// A stand-in update service (update_service.py), only inside the test's private namespace:
// HTTPS with a certificate for 127.0.0.1 signed by a private CA made once per `folder`
// (services on one folder share them and their replies) that Start points the client at;
// StartPlain serves plain HTTP. On Linux the test starts it; a Windows test program cannot
// start a Linux one, so there it is already running (with_update_services.sh), one at each
// address with a folder of its own, and Start and StartPlain find it.
class UpdateService {
  public:
    UpdateService();
    ~UpdateService();
    UpdateService(const UpdateService&) = delete;
    UpdateService& operator=(const UpdateService&) = delete;

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
    // The private CA that signed the service's certificate, and one that signed nothing here.
    std::string CertificatePath() const { return m_szFolder + "/ca.pem"; }
    std::string OtherCaPath() const { return m_szFolder + "/other-ca.pem"; }

  private:
    struct Process;

    std::string m_szFolder;
    std::unique_ptr<Process> m_process;
};

// Sets a variable of this process's environment (seen by getenv and by the client library).
void SetEnvironment(const std::string& name, const std::string& value);

}  // namespace orvane::test
