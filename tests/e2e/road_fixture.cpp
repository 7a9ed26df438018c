#include "e2e/road_fixture.h"

#include <signal.h>

#include <chrono>
#include <filesystem>
#include <sstream>
#include <thread>

#include "common/netns.h"
#include "platform/net_interfaces.h"

namespace orvane::test {

namespace {

std::vector<std::string> SplitTabs(const std::string& line) {
    std::vector<std::string> fields;
    std::stringstream in(line);
    std::string f;
    while (std::getline(in, f, '\t')) {
        fields.push_back(f);
    }
    if (!line.empty() && line.back() == '\t') {
        fields.push_back("");
    }
    return fields;
}

}  // namespace

std::map<std::string, std::string> DevsimFields(const std::string& out, int index) {
    std::stringstream lines(out);
    std::string line;
    for (int i = 0; i <= index && std::getline(lines, line); ++i) {
    }
    std::map<std::string, std::string> fields;
    std::stringstream in(line);
    std::string kv;
    while (in >> kv) {
        size_t eq = kv.find('=');
        if (eq != std::string::npos) {
            fields[kv.substr(0, eq)] = kv.substr(eq + 1);
        }
    }
    return fields;
}

bool TableLines::Take(const std::string& line) {
    std::vector<std::string> f = SplitTabs(line);
    if (f.size() == 8 && f[0] == "row") {
        rows[f[1]] = f;
    } else if (f.size() == 2 && f[0] == "successes") {
        successes = std::stoi(f[1]);
    } else if (f.size() == 2 && f[0] == "failures") {
        failures = std::stoi(f[1]);
    } else {
        return false;
    }
    return true;
}

bool TableLines::ReadUntil(ChildProcess& orvane, int wantSuccesses, int wantFailures, int waitMs) {
    std::string line;
    while (successes < wantSuccesses || failures < wantFailures) {
        if (!orvane.ReadLine(&line, waitMs)) {
            return false;
        }
        EXPECT_TRUE(Take(line)) << "unexpected line: " << line;
    }
    return successes == wantSuccesses && failures == wantFailures;
}

int TableLines::CompleteRows() const {
    int n = 0;
    for (const auto& [id, r] : rows) {
        n += r[4] == "Upgrade complete" && r[5] == "100%";
    }
    return n;
}

void RoadTest::SetUp() {
    ORVANE_REQUIRE_PRIVATE_NETWORK();
    ASSERT_TRUE(m_peer.Ok());
    ASSERT_TRUE(m_peer.WaitLocalRunning());
    // Gone with the peer's namespace and its link, so the next test meets neither.
    ASSERT_EQ(m_peer.Exec({SystemTool("ip"), "route", "add", "local", kDeviceRange, "dev", "lo"}),
              0);
    ASSERT_EQ(RunCommand({SystemTool("ip"), "route", "add", kDeviceRange, "via", "10.77.0.2"}), 0);
    std::filesystem::create_directory(m_dir.File("fw"));
    InstallProgram("orvane", m_dir.Path());
}

void RoadTest::TearDown() {
    m_orvane.Signal(SIGTERM);  // nothing when it has ended already
    if (m_orvane.Pid() > 0) {
        EXPECT_EQ(m_orvane.Wait(kWaitMs), 0);
    }
    // The test program's namespace outlives this test: later tests must not meet its rules.
    for (const auto& rule : m_vecRules) {
        std::vector<std::string> argv = {SystemTool("iptables"), "-D"};
        argv.insert(argv.end(), rule.begin(), rule.end());
        EXPECT_EQ(RunCommand(argv), 0);
    }
}

void RoadTest::MakeFirmware(const std::vector<std::string>& args, const std::string& name) {
    std::vector<std::string> argv = {BinDir() + "/orvane-mkfw"};
    argv.insert(argv.end(), args.begin(), args.end());
    argv.push_back(m_dir.File("fw/" + name));
    ASSERT_EQ(RunCommand(argv), 0) << name;
}

void RoadTest::StartOrvane(const std::string& configIni) {
    m_dir.Write("Config.ini", configIni);
    ASSERT_TRUE(m_orvane.Start({m_dir.File("orvane"), "--headless", "--ip", kServer, "--folder",
                                m_dir.File("fw"), "--no-ip-check", "--no-force", "--no-show-all"},
                               m_dir.Path(), m_dir.File("stderr.txt")));
    std::string line;
    ASSERT_TRUE(m_orvane.ReadLine(&line, kWaitMs));
    ASSERT_EQ(line.rfind(std::string("ready\t") + kServer + "\t", 0), 0u) << line;
}

int RoadTest::Devsim(const std::vector<std::string>& args, std::string* out, int timeoutMs) {
    std::vector<std::string> argv = {
        SystemTool("ip"), "netns", "exec",          m_peer.Name(), BinDir() + "/orvane-devsim",
        "--server",       kServer, "--source-from", kFirstDevice};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunCommand(argv, out, timeoutMs);
}

int RoadTest::StopOrvane(TableLines* table) {
    m_orvane.Signal(SIGTERM);
    std::string line;
    while (m_orvane.ReadLine(&line, kWaitMs)) {
        EXPECT_TRUE(table->Take(line)) << "unexpected line: " << line;
    }
    return m_orvane.Wait(kWaitMs);
}

bool RoadTest::AddRuleOnBothSides(const std::vector<std::string>& rule) {
    std::vector<std::string> argv = {SystemTool("iptables"), "-A"};
    argv.insert(argv.end(), rule.begin(), rule.end());
    if (argv[0].empty() || RunCommand(argv) != 0) {
        return false;
    }
    m_vecRules.push_back(rule);
    return m_peer.Exec(argv) == 0;
}

}  // namespace orvane::test
