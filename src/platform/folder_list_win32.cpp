#include "platform/folder_list.h"

#include <windows.h>

#include "platform/win32_util.h"

namespace orvane::platform {

bool ListFolder(const std::string& path, std::vector<FolderEntry>* entries) {
    entries->clear();
    WIN32_FIND_DATAW found{};
    std::wstring pattern = win32::Wide(path);
    if (!pattern.empty() && pattern.back() != L'\\' && pattern.back() != L'/') {
        pattern += L'\\';
    }
    pattern += L'*';
    HANDLE h = ::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch,
                                  nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (h == INVALID_HANDLE_VALUE) {
        return false;
    }
    do {
        // A link or junction to a folder counts as the folder, as on Linux.
        const bool folder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        entries->push_back(FolderEntry{win32::Utf8(found.cFileName), folder});
    } while (::FindNextFileW(h, &found));
    ::FindClose(h);
    return true;
}

}  // namespace orvane::platform
