#include "platform/launcher_path.h"

#include <cstdlib>

namespace orvane::platform {

namespace {
std::string& Kept() {
    static std::string path;
    return path;
}
}  // namespace

void TakeLauncherPath() {
    const char* value = std::getenv(kLauncherPathVariable);
    // Only an absolute path is a path the command could have handed over.
    if (value && value[0] == '/') {
        Kept() = value;
    }
    ::unsetenv(kLauncherPathVariable);
}

const std::string& LauncherPath() {
    return Kept();
}

char** Utf8Argv(int, char** argv) {
    return argv;
}

}  // namespace orvane::platform
