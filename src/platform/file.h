#pragma once

#include <cstddef>
#include <string>

namespace orvane::platform {

// A file opened for appending lines that other processes may read meanwhile.
class AppendFile {
  public:
    AppendFile() = default;
    ~AppendFile();
    AppendFile(const AppendFile&) = delete;
    AppendFile& operator=(const AppendFile&) = delete;

    // Opens for writing, creating the file if absent and keeping its contents.
    bool OpenAlways(const std::string& path);
    bool SeekEnd();
    bool Write(const void* data, size_t len);
    // Pushes what was written to the disk.
    bool Flush();
    void Close();

  private:
    int m_iFd = -1;
};

// Folder of the running executable, without a trailing separator.
std::string ExecutableDir();

}  // namespace orvane::platform
