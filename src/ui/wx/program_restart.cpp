#include "ui/wx/program_restart.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/app_config.h"
#include "support/log.h"

namespace orvane::ui {

void RestartProgram() {
    std::fflush(nullptr);
    char path[4096] = {};
    const ssize_t len = readlink("/proc/self/exe", path, sizeof path - 1);
    if (len > 0) {
        path[len] = '\0';
    }
    // The settings file goes along: without it the new instance would read the one beside the
    // program, not the one --config named.
    std::string config = ConfigIniPath();
    char* const argv[] = {len > 0 ? path : const_cast<char*>("orvane"),
                          const_cast<char*>("--config"), config.data(), nullptr};
    execv("/proc/self/exe", argv);
    WriteLog(kLogMajor, "RestartProgram execv error, errno=%d", errno);
    std::_Exit(0);
}

}  // namespace orvane::ui
