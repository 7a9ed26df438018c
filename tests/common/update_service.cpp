#include "common/update_service.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "common/temp_dir.h"

namespace orvane::test {

bool UpdateService::Start(const std::string& folder, int port, const std::string& address) {
    m_szFolder = folder;
    if (!std::ifstream(CertificatePath()).good() &&
        RunCommand({"/usr/bin/openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
                    "ec_paramgen_curve:prime256v1", "-nodes", "-keyout", KeyPath(), "-out",
                    CertificatePath(), "-days", "2", "-subj", "/CN=127.0.0.1", "-addext",
                    "subjectAltName=IP:127.0.0.1"}) != 0) {
        return false;
    }
    if (!Launch({std::to_string(port), CertificatePath(), KeyPath(), folder, address})) {
        return false;
    }
    setenv("ORVANE_UPDATE_HOST", "127.0.0.1", 1);
    setenv("CURL_CA_BUNDLE", CertificatePath().c_str(), 1);
    return true;
}

bool UpdateService::StartPlain(const std::string& folder, const std::string& address, int port) {
    m_szFolder = folder;
    return Launch({std::to_string(port), "-", "-", folder, address});
}

bool UpdateService::Launch(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {"/usr/bin/python3", ORVANE_UPDATE_SERVICE_SCRIPT};
    argv.insert(argv.end(), args.begin(), args.end());
    std::string line;
    return m_process.Start(argv, "", m_szFolder + "/service.err") &&
           m_process.ReadLine(&line, 15000) && line == "listening";
}

void UpdateService::Reply(const std::string& body, const std::string& status,
                          const std::string& mode) const {
    std::ofstream(m_szFolder + "/reply", std::ios::binary) << status + " " + mode + "\n" + body;
    std::remove((m_szFolder + "/release").c_str());
    std::remove((m_szFolder + "/requests.log").c_str());
}

void UpdateService::RootStatus(const std::string& status) const {
    std::ofstream(m_szFolder + "/root_status") << status;
}

void UpdateService::Release() const {
    std::ofstream(m_szFolder + "/release").flush();
}

std::vector<std::string> UpdateService::Requests() const {
    std::vector<std::string> heads;
    const std::string all = ReadWholeFile(m_szFolder + "/requests.log");
    for (size_t start = 0, end; (end = all.find("\r\n----\n", start)) != std::string::npos;
         start = end + 7) {
        heads.push_back(all.substr(start, end - start));
    }
    return heads;
}

}  // namespace orvane::test
