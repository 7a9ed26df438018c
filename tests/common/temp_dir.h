#pragma once

#include <string>

namespace orvane::test {

// A fresh folder under the system temp folder, removed with everything in it at destruction.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return m_szPath; }
    std::string File(const std::string& name) const { return m_szPath + "/" + name; }
    void Write(const std::string& name, const std::string& content) const;

  private:
    std::string m_szPath;
};

// The whole content of a file; empty when it cannot be read.
std::string ReadWholeFile(const std::string& path);

}  // namespace orvane::test
