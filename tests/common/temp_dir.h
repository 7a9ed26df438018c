#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

namespace orvane::test {

// A fresh folder under the system temp folder, removed with everything in it at destruction.
class TempDir {
  public:
    TempDir() : m_szPath(std::filesystem::temp_directory_path() / "orvane-test-XXXXXX") {
        if (!mkdtemp(m_szPath.data())) {
            throw std::runtime_error("mkdtemp failed");
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
