#include "platform/instance_lock.h"

#include <windows.h>

#include "platform/win32_util.h"

// The single instance is the named mutex the program has always used on Windows, "OrvaneDlg",
// held for the process's life. Named after the lock file's name, so a test (or a second site)
// that gives its own folder gets a mutex of its own.

namespace orvane::platform {

namespace {

std::wstring MutexName(const std::string& path) {
    const size_t cut = path.find_last_of("\\/");
    const std::string folder = cut == std::string::npos ? "" : path.substr(0, cut);
    std::string name = cut == std::string::npos ? path : path.substr(cut + 1);
    if (!folder.empty() && folder != RuntimeDir()) {
        // Backslashes are the one character a mutex name may not hold.
        std::string where = folder;
        for (char& c : where) {
            c = c == '\\' ? '/' : c;
        }
        name += "@" + where;
    }
    return win32::Wide(name);
}

}  // namespace

InstanceLock::~InstanceLock() {
    Release();
}

void InstanceLock::Release() {
    if (m_iFd >= 0) {
        ::CloseHandle(reinterpret_cast<HANDLE>(static_cast<intptr_t>(m_iFd)));
        m_iFd = -1;
    }
}

bool InstanceLock::TryAcquire(const std::string& path) {
    if (m_iFd >= 0) {
        return true;
    }
    HANDLE mutex = ::CreateMutexW(nullptr, TRUE, MutexName(path).c_str());
    if (mutex == nullptr) {
        return false;
    }
    if (::GetLastError() == ERROR_ALREADY_EXISTS) {
        ::CloseHandle(mutex);
        return false;
    }
    // Kernel handles keep their value in 32 bits.
    m_iFd = static_cast<int>(reinterpret_cast<intptr_t>(mutex));
    return true;
}

std::string RuntimeDir() {
    wchar_t buffer[MAX_PATH + 1] = {};
    DWORD n = ::GetTempPathW(MAX_PATH + 1, buffer);
    while (n > 0 && (buffer[n - 1] == L'\\' || buffer[n - 1] == L'/')) {
        --n;
    }
    return n == 0 ? "." : win32::Utf8(buffer, n);
}

}  // namespace orvane::platform
