#include "ui/wx/program_restart.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/app_config.h"
#include "platform/file.h"
#include "support/log.h"

namespace orvane::ui {

void RestartProgram() {
    std::fflush(nullptr);
    // The orvane command when it ran this process, so the new instance finds the same folder
    // and has its signals held back while it loads.
    std::string path = platform::ExecutablePath();
    // The settings file goes along: without it the new instance would read the one beside the
    // program, not the one --config named.
    std::string config = ConfigIniPath();
    char* const argv[] = {path.empty() ? const_cast<char*>("orvane") : path.data(),
                          const_cast<char*>("--config"), config.data(), nullptr};
    execv(path.empty() ? "/proc/self/exe" : path.c_str(), argv);
    WriteLog(kLogMajor, "RestartProgram execv error, errno=%d", errno);
    std::_Exit(0);
}

}  // namespace orvane::ui
