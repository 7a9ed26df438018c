#include <cstdlib>

#include "common/child_process.h"
#include "common/update_service.h"

namespace orvane::test {

struct UpdateService::Process {
    ChildProcess child;

    // update_service.py PORT CERT KEY FOLDER ADDRESS, once it says it listens.
    bool Launch(int port, const std::string& cert, const std::string& key,
                const std::string& folder, const std::string& address) {
        std::string line;
        return child.Start({"/usr/bin/python3", ORVANE_UPDATE_SERVICE_SCRIPT, std::to_string(port),
                            cert, key, folder, address},
                           "", folder + "/service.err") &&
               child.ReadLine(&line, 15000) && line == "listening";
    }
};

UpdateService::UpdateService() : m_process(std::make_unique<Process>()) {}
UpdateService::~UpdateService() = default;

bool UpdateService::Start(const std::string& folder, int port, const std::string& address) {
    m_szFolder = folder;
    if (RunCommand({"/bin/bash", ORVANE_MAKE_TEST_CERTS, folder}) != 0 ||
        !m_process->Launch(port, folder + "/server.pem", folder + "/server.key", folder, address)) {
        return false;
    }
    SetEnvironment("ORVANE_UPDATE_HOST", "127.0.0.1");
    SetEnvironment("CURL_CA_BUNDLE", CertificatePath());
    return true;
}

bool UpdateService::StartPlain(const std::string& folder, const std::string& address, int port) {
    m_szFolder = folder;
    return m_process->Launch(port, "-", "-", folder, address);
}

void SetEnvironment(const std::string& name, const std::string& value) {
    setenv(name.c_str(), value.c_str(), 1);
}

}  // namespace orvane::test
