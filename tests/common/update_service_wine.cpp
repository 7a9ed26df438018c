#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "common/update_service.h"

namespace orvane::test {

struct UpdateService::Process {};

UpdateService::UpdateService() = default;
UpdateService::~UpdateService() = default;

namespace {

// The folder of the service that with_update_services.sh started at address:port, cleared of
// the last test's replies; empty when none runs there.
std::string RunningService(const std::string& address, int port) {
    const char* root = std::getenv("ORVANE_TEST_SERVICES");
    if (!root || !*root) {
        return "";
    }
    const std::string folder = std::string(root) + "/" + address + "-" + std::to_string(port);
    if (!std::ifstream(folder + "/listening").good()) {
        return "";
    }
    for (const char* name : {"reply", "root_status", "release", "requests.log"}) {
        std::remove((folder + "/" + name).c_str());
    }
    return folder;
}

}  // namespace

bool UpdateService::Start(const std::string&, int port, const std::string& address) {
    m_szFolder = RunningService(address, port);
    if (m_szFolder.empty() || !std::ifstream(CertificatePath()).good()) {
        return false;
    }
    SetEnvironment("ORVANE_UPDATE_HOST", "127.0.0.1");
    SetEnvironment("CURL_CA_BUNDLE", CertificatePath());
    return true;
}

bool UpdateService::StartPlain(const std::string&, const std::string& address, int port) {
    m_szFolder = RunningService(address, port);
    return !m_szFolder.empty();
}

void SetEnvironment(const std::string& name, const std::string& value) {
    _putenv_s(name.c_str(), value.c_str());
}

}  // namespace orvane::test
