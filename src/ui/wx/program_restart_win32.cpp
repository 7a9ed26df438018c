#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/app_config.h"
#include "app/app_startup.h"
#include "platform/file.h"
#include "platform/win32_util.h"
#include "support/log.h"
#include "ui/wx/program_restart.h"

namespace orvane::ui {

namespace {

// One argument quoted as CommandLineToArgvW reads it back: backslashes double only before a
// quote.
std::wstring Quoted(const std::wstring& arg) {
    std::wstring out = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, L'\\');
    return out + L"\"";
}

}  // namespace

// Windows has no exec: the new instance is a new process, started through the shell as a
// double-click starts it (so it asks for the same rights), and this one ends at once after.
// The single-instance lock goes first: the new process may look for it before this one has
// ended.
void RestartProgram() {
    std::fflush(nullptr);
    ReleaseSingleInstance();
    std::wstring path = platform::win32::Wide(platform::RunningFilePath());
    std::wstring params = L"--config " + Quoted(platform::win32::Wide(ConfigIniPath()));
    auto result = reinterpret_cast<INT_PTR>(
        ::ShellExecuteW(nullptr, L"open", path.c_str(), params.c_str(), nullptr, SW_SHOWNORMAL));
    if (result <= 32) {
        WriteLog(kLogMajor, "RestartProgram ShellExecuteW error %d", static_cast<int>(result));
    }
    std::_Exit(0);
}

}  // namespace orvane::ui
