#include "common/update_service.h"

#include <cstdio>
#include <fstream>

#include "common/temp_dir.h"

namespace orvane::test {

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
