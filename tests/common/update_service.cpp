#include "common/update_service.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "common/temp_dir.h"

namespace orvane::test {

namespace {
constexpr int kStartWaitMs = 15000;
}

bool UpdateService::Start(const std::string& folder, int port, const std::string& address) {
    m_szFolder = folder;
    // A second service on the same folder shares the first one's certificate.
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
           m_process.ReadLine(&line, kStartWaitMs) && line == "listening";
}

void UpdateService::Release() const {
    WriteFile("release", "");
}

void UpdateService::WriteFile(const std::string& name, const std::string& content) const {
    std::ofstream out(m_szFolder + "/" + name, std::ios::binary | std::ios::trunc);
    out << content;
}

void UpdateService::Reply(const std::string& body, const std::string& status,
                          const std::string& mode) const {
    WriteFile("reply", body);
    WriteFile("status", status);
    WriteFile("mode", mode);
    std::remove((m_szFolder + "/release").c_str());
    std::remove((m_szFolder + "/requests.log").c_str());
}

void UpdateService::RootStatus(const std::string& status) const {
    WriteFile("root_status", status);
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
