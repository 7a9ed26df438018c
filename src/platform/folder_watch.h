#pragma once

#include <string>

namespace orvane::platform {

// Notifications of names created, deleted or renamed directly inside one folder (not in its
// subfolders; size and content changes of files do not count). Closes itself.
class FolderWatch {
  public:
    enum class WaitResult { kChanged, kTimeout, kFailed };

    FolderWatch() = default;
    ~FolderWatch();
    FolderWatch(const FolderWatch&) = delete;
    FolderWatch& operator=(const FolderWatch&) = delete;

    // Starts watching an existing folder. False when it is missing, not a folder or cannot
    // be watched; LastError() and LastErrorText() then say why.
    bool Open(const std::string& path);
    void Close();

    // Waits up to timeoutMs for a name change; every change pending at that moment is
    // consumed by one kChanged. An interrupted wait is a time-out, not a failure.
    WaitResult Wait(int timeoutMs);

    int LastError() const { return m_iLastError; }
    std::string LastErrorText() const;

  private:
    int m_iFd = -1;
    int m_iLastError = 0;
};

}  // namespace orvane::platform
