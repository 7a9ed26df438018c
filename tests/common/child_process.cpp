#include "common/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>

#include "common/wait_until.h"
#include "platform/file.h"

namespace orvane::test {

ChildProcess::~ChildProcess() {
    if (m_iPid > 0 && m_iStatus < 0) {
        kill(m_iPid, SIGKILL);
        waitpid(m_iPid, nullptr, 0);
    }
    if (m_iOut >= 0) {
        close(m_iOut);
    }
}

bool ChildProcess::Start(const std::vector<std::string>& argv, const std::string& cwd,
                         const std::string& stderrPath) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        return false;
    }
    std::vector<char*> args;
    for (const auto& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    pid_t pid = fork();
    if (pid < 0) {
        close(fds[0]);
        close(fds[1]);
        return false;
    }
    if (pid == 0) {
        dup2(fds[1], STDOUT_FILENO);
        if (!stderrPath.empty()) {
            int err = open(stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (err >= 0) {
                dup2(err, STDERR_FILENO);
            }
        }
        int devnull = open("/dev/null", O_RDONLY);
        if (devnull >= 0) {
            dup2(devnull, STDIN_FILENO);
        }
        // The test process blocks no signals the child needs, but reset the mask anyway.
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        if (!cwd.empty() && chdir(cwd.c_str()) != 0) {
            _exit(126);
        }
        execv(args[0], args.data());
        _exit(127);
    }
    close(fds[1]);
    m_iOut = fds[0];
    m_iPid = pid;
    m_iStatus = -1;
    return true;
}

bool ChildProcess::ReadLine(std::string* line, int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        size_t nl = m_szBuffer.find('\n');
        if (nl != std::string::npos) {
            *line = m_szBuffer.substr(0, nl);
            m_szBuffer.erase(0, nl + 1);
            return true;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        deadline - std::chrono::steady_clock::now())
                        .count();
        if (left <= 0) {
            return false;
        }
        pollfd pfd{m_iOut, POLLIN, 0};
        if (poll(&pfd, 1, static_cast<int>(left)) <= 0) {
            return false;
        }
        char buf[4096];
        ssize_t n = read(m_iOut, buf, sizeof buf);
        if (n <= 0) {
            return false;
        }
        m_szBuffer.append(buf, static_cast<size_t>(n));
    }
}

void ChildProcess::Signal(int sig) {
    if (m_iPid > 0 && m_iStatus < 0) {
        kill(m_iPid, sig);
    }
}

int ChildProcess::Wait(int timeoutMs) {
    if (m_iStatus >= 0) {
        return m_iStatus;
    }
    int status = 0;
    if (!WaitUntil([&] { return waitpid(m_iPid, &status, WNOHANG) == m_iPid; }, timeoutMs)) {
        return -1;
    }
    m_iStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return m_iStatus;
}

int RunCommand(const std::vector<std::string>& argv, std::string* out, int timeoutMs) {
    ChildProcess child;
    if (!child.Start(argv)) {
        return -1;
    }
    std::string line;
    std::string all;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    // A quiet moment is not the end: keep reading until the child has ended, then take what
    // it left in the pipe.
    while (std::chrono::steady_clock::now() < deadline) {
        if (child.ReadLine(&line, 100)) {
            all += line + "\n";
        } else if (child.Wait(0) >= 0) {
            while (child.ReadLine(&line, 1000)) {
                all += line + "\n";
            }
            break;
        }
    }
    int status = child.Wait(static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                 deadline - std::chrono::steady_clock::now())
                                                 .count()));
    if (out) {
        *out = all;
    }
    return status;
}

std::string BinDir() {
    return platform::ExecutableDir();
}

std::string InstallProgram(const std::string& name, const std::string& folder) {
    // orvane is two files: the command and, beside it, the real program it runs.
    for (const std::string& file : {name, name + "-program"}) {
        const std::string from = BinDir() + "/" + file;
        if (file != name && !std::filesystem::exists(from)) {
            continue;
        }
        const std::string to = folder + "/" + file;
        std::error_code ec;
        std::filesystem::create_hard_link(from, to, ec);
        if (ec) {
            std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing,
                                       ec);
        }
    }
    return folder + "/" + name;
}

}  // namespace orvane::test
