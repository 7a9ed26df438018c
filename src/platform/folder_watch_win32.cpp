#include "platform/folder_watch.h"

#include <windows.h>

#include <cerrno>
#include <cstring>
#include <cwchar>
#include <vector>

#include "platform/win32_util.h"

// The folder handle lives in the seam's descriptor (kernel handles keep their value in 32 bits)
// and the event of the outstanding read in the watch slot. The system keeps the changes that
// come between two reads on the handle once the first read was made, so a read made at each
// wait and cancelled at its time-out loses nothing.

namespace orvane::platform {

namespace {

HANDLE AsHandle(int value) {
    return reinterpret_cast<HANDLE>(static_cast<intptr_t>(value));
}

int AsInt(HANDLE h) {
    return static_cast<int>(reinterpret_cast<intptr_t>(h));
}

constexpr DWORD kNotifyFilter = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME |
                                FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_SIZE;

std::uint64_t FileIndex(const BY_HANDLE_FILE_INFORMATION& info) {
    return (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
}

bool NameEndsWith(const std::wstring& name, const std::wstring& suffix) {
    // Windows names are the same in any letter case.
    return name.size() >= suffix.size() && ::_wcsnicmp(name.c_str() + name.size() - suffix.size(),
                                                       suffix.c_str(), suffix.size()) == 0;
}

}  // namespace

FolderWatch::~FolderWatch() {
    Close();
}

bool FolderWatch::Open(const std::string& path, const std::string& writtenSuffix) {
    Close();
    m_szPath = path;
    m_szWrittenSuffix = writtenSuffix;
    HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (event == nullptr) {
        m_iLastError = win32::ErrnoFromWin32(::GetLastError());
        return false;
    }
    m_iWatch = AsInt(event);
    if (!AddWatch()) {
        Close();
        return false;
    }
    return true;
}

bool FolderWatch::AddWatch() {
    HANDLE dir =
        ::CreateFileW(win32::Wide(m_szPath).c_str(), FILE_LIST_DIRECTORY,
                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr);
    if (dir == INVALID_HANDLE_VALUE) {
        m_iLastError = win32::ErrnoFromWin32(::GetLastError());
        return false;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(dir, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        ::CloseHandle(dir);
        m_iLastError = ENOTDIR;
        return false;
    }
    m_uFolderId = FileIndex(info);
    m_uVolume = info.dwVolumeSerialNumber;
    m_iFd = AsInt(dir);
    // The system keeps changes for a handle only from its first read on: one read started and
    // cancelled here, so nothing made between now and the first wait is lost.
    alignas(DWORD) unsigned char buffer[sizeof(FILE_NOTIFY_INFORMATION) + MAX_PATH * sizeof(WCHAR)];
    OVERLAPPED overlapped{};
    overlapped.hEvent = AsHandle(m_iWatch);
    ::ResetEvent(overlapped.hEvent);
    if (::ReadDirectoryChangesW(dir, buffer, sizeof buffer, FALSE, kNotifyFilter, nullptr,
                                &overlapped, nullptr)) {
        DWORD bytes = 0;
        ::CancelIoEx(dir, &overlapped);
        ::GetOverlappedResult(dir, &overlapped, &bytes, TRUE);
    }
    return true;
}

bool FolderWatch::LostFolder() {
    HANDLE now = ::CreateFileW(win32::Wide(m_szPath).c_str(), FILE_READ_ATTRIBUTES,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    // A folder removed while the handle is open stays, pending its removal, until it closes;
    // a new folder cannot take its name before that.
    FILE_STANDARD_INFO standard{};
    const bool pending = ::GetFileInformationByHandleEx(AsHandle(m_iFd), FileStandardInfo,
                                                        &standard, sizeof standard) &&
                         standard.DeletePending;
    const bool gone = now == INVALID_HANDLE_VALUE || pending;
    BY_HANDLE_FILE_INFORMATION info{};
    const bool same = !gone && ::GetFileInformationByHandle(now, &info) &&
                      FileIndex(info) == m_uFolderId && info.dwVolumeSerialNumber == m_uVolume;
    if (!gone) {
        ::CloseHandle(now);
    }
    if (same) {
        return false;
    }
    ::CloseHandle(AsHandle(m_iFd));
    m_iFd = -1;
    return true;
}

void FolderWatch::Close() {
    if (m_iFd >= 0) {
        ::CloseHandle(AsHandle(m_iFd));
        m_iFd = -1;
    }
    if (m_iWatch >= 0) {
        ::CloseHandle(AsHandle(m_iWatch));
        m_iWatch = -1;
    }
}

FolderWatch::WaitResult FolderWatch::Wait(int timeoutMs) {
    if (m_iWatch < 0) {
        m_iLastError = EBADF;
        return WaitResult::kFailed;
    }
    if (m_iFd < 0) {
        // The folder went away: each wait looks for it again, and its return is a change.
        if (AddWatch()) {
            return WaitResult::kChanged;
        }
        ::Sleep(static_cast<DWORD>(timeoutMs > 0 ? timeoutMs : 0));
        return WaitResult::kTimeout;
    }
    alignas(DWORD) unsigned char buffer[16 * 1024];
    OVERLAPPED overlapped{};
    overlapped.hEvent = AsHandle(m_iWatch);
    ::ResetEvent(overlapped.hEvent);
    if (!::ReadDirectoryChangesW(AsHandle(m_iFd), buffer, sizeof buffer, FALSE, kNotifyFilter,
                                 nullptr, &overlapped, nullptr)) {
        // The folder was removed or renamed away under its handle.
        ::CloseHandle(AsHandle(m_iFd));
        m_iFd = -1;
        return WaitResult::kChanged;
    }
    DWORD bytes = 0;
    const DWORD waited =
        ::WaitForSingleObject(overlapped.hEvent, static_cast<DWORD>(timeoutMs < 0 ? 0 : timeoutMs));
    if (waited != WAIT_OBJECT_0) {
        ::CancelIoEx(AsHandle(m_iFd), &overlapped);
        // The buffer is the read's until the system says the read has ended.
        ::GetOverlappedResult(AsHandle(m_iFd), &overlapped, &bytes, TRUE);
        return LostFolder() ? WaitResult::kChanged : WaitResult::kTimeout;
    }
    if (!::GetOverlappedResult(AsHandle(m_iFd), &overlapped, &bytes, FALSE)) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_NOTIFY_ENUM_DIR) {
            return WaitResult::kChanged;  // too many changes to list: anything may have changed
        }
        ::CloseHandle(AsHandle(m_iFd));
        m_iFd = -1;
        return WaitResult::kChanged;
    }
    if (bytes == 0) {
        return WaitResult::kChanged;  // the list overflowed
    }
    const std::wstring suffix = win32::Wide(m_szWrittenSuffix);
    bool changed = false;
    for (DWORD at = 0; at < bytes;) {
        const auto* e = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(buffer + at);
        const std::wstring name(e->FileName, e->FileNameLength / sizeof(wchar_t));
        // A file written line by line (the log) is no change; one of the watched kind is.
        changed = changed || e->Action != FILE_ACTION_MODIFIED || NameEndsWith(name, suffix);
        if (e->NextEntryOffset == 0) {
            break;
        }
        at += e->NextEntryOffset;
    }
    // Checked after every read: the removal of the folder itself can come with its files'.
    const bool lost = LostFolder();
    return changed || lost ? WaitResult::kChanged : WaitResult::kTimeout;
}

std::string FolderWatch::LastErrorText() const {
    return std::strerror(m_iLastError);
}

}  // namespace orvane::platform
