#pragma once

#include <cstdint>
#include <string>

namespace orvane::platform {

// Notifications of names created, deleted or renamed directly inside one folder, and of files
// there closed after writing (not in its subfolders; a file still being written does not
// count until it is closed). A folder removed or renamed away, then created again under its
// name, is watched again. Closes itself.
class FolderWatch {
  public:
    enum class WaitResult { kChanged, kTimeout, kFailed };

    // Windows tells no close after writing: there each write to a file of the watched kind is
    // a change, and the rescan that follows sees a copy in progress (the catalogue's checks
    // of a half-written file stand in for the close).
#ifdef _WIN32
    static constexpr bool kSeesCloseAfterWrite = false;
#else
    static constexpr bool kSeesCloseAfterWrite = true;
#endif

    FolderWatch() = default;
    ~FolderWatch();
    FolderWatch(const FolderWatch&) = delete;
    FolderWatch& operator=(const FolderWatch&) = delete;

    // Starts watching an existing folder. A file closed after writing counts only when its
    // name ends in `writtenSuffix` (any name when empty), so a log written in the folder line
    // by line is no change. False when the folder is missing, not a folder or cannot be
    // watched; LastError() and LastErrorText() then say why.
    bool Open(const std::string& path, const std::string& writtenSuffix = "");
    void Close();

    // Waits up to timeoutMs for a change; every change pending at that moment is consumed by
    // one kChanged. An interrupted wait is a time-out, not a failure. While the folder is
    // missing each wait looks for it again; its return is a change.
    WaitResult Wait(int timeoutMs);

    int LastError() const {
        return m_iLastError;
    }
    std::string LastErrorText() const;

  private:
    bool AddWatch();
    WaitResult Drain();

    int m_iFd = -1;
    int m_iWatch = -1;  // -1 while the folder is missing
    std::string m_szPath;
    std::string m_szWrittenSuffix;
    int m_iLastError = 0;
#ifdef _WIN32
    // A folder handle follows its folder when it is renamed, and a removed folder lingers
    // while the handle is open: the watch compares this with what its path names now, and
    // lets the handle go (true) when they differ.
    bool LostFolder();
    std::uint64_t m_uFolderId = 0;
    std::uint32_t m_uVolume = 0;
#endif
};

}  // namespace orvane::platform
