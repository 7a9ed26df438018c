#include "common/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>

#include "common/wait_until.h"
#include "platform/file.h"

namespace orvane::test {

static int MsUntil(std::chrono::steady_clock::time_point deadline) {
    const auto left = deadline - std::chrono::steady_clock::now();
    return std::max(
        0, static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(left).count()));
}

ChildProcess::~ChildProcess() {
    if (m_iPid > 0 && m_iStatus < 0) {
        kill(m_iPid, SIGKILL);
        waitpid(m_iPid, nullptr, 0);
    }
    close(m_iOut);
}

bool ChildProcess::Start(const std::vector<std::string>& argv, const std::string& cwd,
                         const std::string& stderrPath) {
    // One child at a time; one that has ended and been waited for makes room for the next.
    if (m_iPid > 0 && m_iStatus < 0) {
        return false;
    }
    if (m_iOut >= 0) {
        close(m_iOut);
        m_iOut = -1;
    }
    m_iStatus = -1;
    m_szBuffer.clear();
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        return false;
    }
    std::vector<char*> args;
    for (const auto& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    m_iPid = fork();
    if (m_iPid == 0) {
        dup2(fds[1], STDOUT_FILENO);
        dup2(open("/dev/null", O_RDONLY), STDIN_FILENO);
        if (!stderrPath.empty()) {
            dup2(open(stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), STDERR_FILENO);
        }
        // A thread of the test may block signals (the product's signal waiter does): the
        // child must not inherit that, or SIGTERM would never reach it.
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        if (cwd.empty() || chdir(cwd.c_str()) == 0) {
            execv(args[0], args.data());
        }
        _exit(127);
    }
    close(fds[1]);
    m_iOut = fds[0];
    return m_iPid > 0;
}

bool ChildProcess::ReadLine(std::string* line, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (size_t nl; (nl = m_szBuffer.find('\n')) == std::string::npos;) {
        pollfd pfd{m_iOut, POLLIN, 0};
        char buf[4096];
        ssize_t n = 0;
        if (poll(&pfd, 1, MsUntil(deadline)) <= 0 || (n = read(m_iOut, buf, sizeof buf)) <= 0) {
            return false;
        }
        m_szBuffer.append(buf, static_cast<size_t>(n));
    }
    const size_t nl = m_szBuffer.find('\n');
    *line = m_szBuffer.substr(0, nl);
    m_szBuffer.erase(0, nl + 1);
    return true;
}

void ChildProcess::Signal(int sig) {
    if (m_iPid > 0 && m_iStatus < 0) {
        kill(m_iPid, sig);
    }
}

int ChildProcess::Wait(int timeoutMs) {
    int status = 0;
    if (m_iStatus < 0 &&
        WaitUntil([&] { return waitpid(m_iPid, &status, WNOHANG) == m_iPid; }, timeoutMs)) {
        m_iStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    return m_iStatus;
}

int RunCommand(const std::vector<std::string>& argv, std::string* out, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    ChildProcess child;
    if (!child.Start(argv)) {
        return -1;
    }
    std::string line;
    std::string all;
    while (child.ReadLine(&line, MsUntil(deadline))) {  // to the end of its output
        all += line + "\n";
    }
    if (out) {
        *out = all;
    }
    return child.Wait(MsUntil(deadline));
}

std::string BinDir() {
    return platform::ExecutableDir();
}

std::string InstallProgram(const std::string& name, const std::string& folder) {
    // orvane is two files: the command and, beside it, the real program it runs.
    for (const std::string& file : {name, name + "-program"}) {
        std::error_code ec;
        std::filesystem::create_hard_link(BinDir() + "/" + file, folder + "/" + file, ec);
        if (ec) {
            std::filesystem::copy_file(BinDir() + "/" + file, folder + "/" + file,
                                       std::filesystem::copy_options::overwrite_existing, ec);
        }
    }
    return folder + "/" + name;
}

}  // namespace orvane::test
