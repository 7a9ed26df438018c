// The orvane command: holds SIGINT and SIGTERM back, then runs the real program in its place.
//
// The real program (orvane-program) links about a hundred shared libraries, the window
// toolkit's among them, and the system's loader spends tens of milliseconds on them before the
// program can install the handler that ends it with status 0 on those signals. A signal in that
// time would end it as it ends any program (status 143 for SIGTERM), and a supervisor that
// stops a service right after starting it would see a failure. This file links only the C
// library, so it loads in about a millisecond; the signals it blocks stay blocked across the
// exec, a signal sent meanwhile stays pending, and the real program takes it once its handler
// is in place.
//
// The real program's folder is not the program's folder to its users: Config.ini, CrashDir and
// the restart all belong beside this file, so its path goes along in the environment.
#include <errno.h>
#include <limits.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "platform/launcher_path.h"

namespace {

// `folder`/`rest` into `out` when it fits.
bool JoinPath(char* out, size_t size, const char* folder, const char* rest) {
    const int n = snprintf(out, size, "%s/%s", folder, rest);
    return n > 0 && static_cast<size_t>(n) < size;
}

}  // namespace

int main(int, char** argv) {
    sigset_t termination;
    sigemptyset(&termination);
    sigaddset(&termination, SIGINT);
    sigaddset(&termination, SIGTERM);
    sigprocmask(SIG_BLOCK, &termination, nullptr);

    char self[PATH_MAX];
    const ssize_t len = readlink("/proc/self/exe", self, sizeof self - 1);
    if (len <= 0 || static_cast<size_t>(len) >= sizeof self - 1) {
        fprintf(stderr, "orvane: cannot find its own path (/proc/self/exe)\n");
        return 127;
    }
    self[len] = '\0';
    char folder[PATH_MAX];
    memcpy(folder, self, static_cast<size_t>(len) + 1);
    char* slash = strrchr(folder, '/');
    if (slash == nullptr) {
        fprintf(stderr, "orvane: cannot find its own folder in %s\n", self);
        return 127;
    }
    *slash = '\0';
    setenv(orvane::platform::kLauncherPathVariable, self, 1);

    // Beside this file in a build or an unpacked folder; in libexec when installed.
    const char* const places[] = {"orvane-program", "../libexec/orvane/orvane-program"};
    for (const char* place : places) {
        char program[PATH_MAX];
        if (JoinPath(program, sizeof program, folder, place) && access(program, X_OK) == 0) {
            execv(program, argv);
            fprintf(stderr, "orvane: cannot run %s: %s\n", program, strerror(errno));
            return 127;
        }
    }
    fprintf(stderr, "orvane: %s/orvane-program is missing (nor in ../libexec/orvane)\n", folder);
    return 127;
}
