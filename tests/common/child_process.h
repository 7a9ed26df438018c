#pragma once

#include <string>
#include <vector>

namespace orvane::test {

// A program started by a test, its standard output read line by line. The destructor ends it
// (SIGKILL, by its own pid) if it still runs: a test never leaves it behind.
class ChildProcess {
  public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts argv[0] (a path) in `cwd`, stderr to `stderrPath` when given; false on failure, or
    // while the last one started has not been waited for to its end.
    bool Start(const std::vector<std::string>& argv, const std::string& cwd = "",
               const std::string& stderrPath = "");
    // Next line of output without its line feed; false at its end or after timeoutMs.
    bool ReadLine(std::string* line, int timeoutMs);
    void Signal(int sig);
    // Waits up to timeoutMs for the end: the exit status, 128 + signal, or -1 (still runs).
    int Wait(int timeoutMs);
    int Pid() const { return m_iPid; }

  private:
    int m_iPid = -1;
    int m_iOut = -1;
    int m_iStatus = -1;
    std::string m_szBuffer;
};

// Runs a command to its end (killed after timeoutMs): its exit status, its output in `out`.
int RunCommand(const std::vector<std::string>& argv, std::string* out = nullptr,
               int timeoutMs = 30000);

// Folder of the test executables and tools (build/bin).
std::string BinDir();

// Links (or copies) the program `name` of BinDir(), and `name`-program when there is one, into
// `folder`, where it finds its Config.ini and CrashDir; its path there.
std::string InstallProgram(const std::string& name, const std::string& folder);

}  // namespace orvane::test
