#include "platform/launcher_path.h"

#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <vector>

#include "platform/win32_util.h"

namespace orvane::platform {

// Windows has no launcher in front of the program: the program is what the user started.
void TakeLauncherPath() {}

const std::string& LauncherPath() {
    static const std::string none;
    return none;
}

char** Utf8Argv(int argc, char** argv) {
    static std::vector<std::string> arguments;
    static std::vector<char*> pointers;
    int count = 0;
    LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (wide == nullptr) {
        return argv;
    }
    // A command line split otherwise than the runtime split it: argv is all there is.
    if (count == argc) {
        arguments.clear();
        for (int i = 0; i < count; ++i) {
            arguments.push_back(win32::Utf8(wide[i]));
        }
        pointers.clear();
        for (std::string& a : arguments) {
            pointers.push_back(a.data());
        }
        pointers.push_back(nullptr);
    }
    ::LocalFree(wide);
    return pointers.empty() ? argv : pointers.data();
}

}  // namespace orvane::platform
