#include "platform/launcher_path.h"

namespace orvane::platform {

// Windows has no launcher in front of the program: the program is what the user started.
void TakeLauncherPath() {}

const std::string& LauncherPath() {
    static const std::string none;
    return none;
}

}  // namespace orvane::platform
