#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>

namespace orvane::test {

// A fresh folder under the system temp folder, removed with everything in it at destruction.
class TempDir {
  public:
    TempDir() {
        // create_directory is false for a name that exists: another run's folder is never
        // shared.
        const std::filesystem::path base = std::filesystem::temp_directory_path();
        std::random_device seed;
        std::mt19937_64 pick(seed());
        for (int attempt = 0; attempt < 100 && m_szPath.empty(); ++attempt) {
            const std::filesystem::path candidate =
                base / ("orvane-test-" + std::to_string(pick() % 1000000000));
            std::error_code ec;
            if (std::filesystem::create_directory(candidate, ec)) {
                m_szPath = candidate.string();
            }
        }
        if (m_szPath.empty()) {
            throw std::runtime_error("no fresh temporary folder");
        }
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(m_szPath, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return m_szPath; }
    std::string File(const std::string& name) const { return m_szPath + "/" + name; }
    void Write(const std::string& name, const std::string& content) const {
        std::ofstream(File(name), std::ios::binary) << content;
    }

  private:
    std::string m_szPath;
};

// The whole content of a file; empty when it cannot be read.
inline std::string ReadWholeFile(const std::string& path) {
    std::ostringstream ss;
    ss << std::ifstream(path, std::ios::binary).rdbuf();
    return ss.str();
}

}  // namespace orvane::test
