#pragma once

#include <string>
#include <vector>

namespace orvane::test {

// A program started by a test, with its standard output readable line by line. The
// destructor ends it (SIGKILL, by its own pid) if it still runs: a test never leaves it behind.
class ChildProcess {
  public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts argv[0] (a path) with `cwd` as working folder; stderr goes to `stderrPath` when
    // given. False when it could not be started.
    bool Start(const std::vector<std::string>& argv, const std::string& cwd = "",
               const std::string& stderrPath = "");

    // Next line of standard output without its line feed; false on end of output or when
    // nothing came within timeoutMs.
    bool ReadLine(std::string* line, int timeoutMs);

    // Sends a signal to the child (by its pid).
    void Signal(int sig);

    // Waits up to timeoutMs for the child to end; its exit status, 128 + signal when killed by
    // one, or -1 when it still runs.
    int Wait(int timeoutMs);

    int Pid() const { return m_iPid; }

  private:
    int m_iPid = -1;
    int m_iOut = -1;
    int m_iStatus = -1;
    std::string m_szBuffer;
};

// Runs a command to its end (bounded by timeoutMs, then killed); its exit status, and its
// standard output in `out` when given.
int RunCommand(const std::vector<std::string>& argv, std::string* out = nullptr,
               int timeoutMs = 30000);

// Folder of the test executables and tools (build/bin).
std::string BinDir();

// Puts the program `name` of BinDir() into `folder` (a hard link where possible, else a copy),
// with `name`-program when there is one (orvane's real program), and returns its path: the
// program then finds its Config.ini and CrashDir in that folder.
std::string InstallProgram(const std::string& name, const std::string& folder);

}  // namespace orvane::test
