#pragma once

#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "common/child_process.h"
#include "common/netns.h"
#include "common/peer_namespace.h"
#include "common/temp_dir.h"

namespace orvane::test {

// key=value fields of the simulator's summary lines (their keys differ).
inline std::map<std::string, std::string> DevsimFields(const std::string& out) {
    std::map<std::string, std::string> fields;
    std::stringstream in(out);
    for (std::string kv; in >> kv;) {
        const size_t eq = kv.find('=');
        if (eq != std::string::npos) {
            fields[kv.substr(0, eq)] = kv.substr(eq + 1);
        }
    }
    return fields;
}

// The headless table as its lines leave it: every row's last texts (by ID) and the counters.
struct TableLines {
    std::map<std::string, std::vector<std::string>> rows;
    int successes = 0;
    int failures = 0;
    std::vector<std::string> notes;

    bool Take(const std::string& line) {  // false for a line neither a row nor a count
        std::vector<std::string> f;
        std::stringstream in(line + "\t");
        for (std::string field; std::getline(in, field, '\t');) {
            f.push_back(field);
        }
        if (f.size() == 8 && f[0] == "row") {
            rows[f[1]] = f;
        } else if (f.size() == 2 && f[0] == "note") {
            notes.push_back(f[1]);
        } else if (f.size() == 2 && (f[0] == "successes" || f[0] == "failures")) {
            (f[0] == "successes" ? successes : failures) = std::stoi(f[1]);
        } else {
            return false;
        }
        return true;
    }
    // Reads lines until the counters reach the given values (or a line is later than waitMs).
    bool ReadUntil(ChildProcess& orvane, int wantSuccesses, int wantFailures, int waitMs) {
        std::string line;
        while (successes < wantSuccesses || failures < wantFailures) {
            if (!orvane.ReadLine(&line, waitMs)) {
                return false;
            }
            EXPECT_TRUE(Take(line)) << "unexpected line: " << line;
        }
        return successes == wantSuccesses && failures == wantFailures;
    }
};

// Orvane --headless at 10.77.0.1, firmware in fw/; orvane-devsim in a peer namespace
// (10.77.0.2), each device fetching from its own 10.78.x.y (Orvane limits transfers per address).
class RoadTest : public testing::Test {
  protected:
    static constexpr const char* kServer = "10.77.0.1";
    static constexpr const char* kDeviceRange = "10.78.0.0/16";
    static constexpr int kWaitMs = 10000;

    void SetUp() override {
        ORVANE_REQUIRE_PRIVATE_NETWORK();
        ASSERT_TRUE(m_peer.Ok());
        ASSERT_TRUE(m_peer.WaitLocalRunning());
        ASSERT_EQ(
            m_peer.Exec({SystemTool("ip"), "route", "add", "local", kDeviceRange, "dev", "lo"}), 0);
        ASSERT_EQ(RunCommand({SystemTool("ip"), "route", "add", kDeviceRange, "via", "10.77.0.2"}),
                  0);
        std::filesystem::create_directory(m_dir.File("fw"));
        InstallProgram("orvane", m_dir.Path());
    }
    void TearDown() override {
        m_orvane.Signal(SIGTERM);  // nothing when it has ended already
        if (m_orvane.Pid() > 0) {
            EXPECT_EQ(m_orvane.Wait(kWaitMs), 0);
        }
    }

    void MakeFirmware(std::vector<std::string> args, const std::string& name) {
        args.insert(args.begin(), BinDir() + "/orvane-mkfw");
        args.push_back(m_dir.File("fw/" + name));
        ASSERT_EQ(RunCommand(args), 0) << name;
    }
    // English texts, the three boxes unticked unless `extra` ticks one; returns after the
    // ready line.
    void StartOrvane(const std::vector<std::string>& extra = {}) {
        m_dir.Write("Config.ini", "[CNFINFO]\r\nAppLanguage=2\r\n");
        std::vector<std::string> argv = {
            m_dir.File("orvane"), "--headless",    "--ip",       kServer,        "--folder",
            m_dir.File("fw"),     "--no-ip-check", "--no-force", "--no-show-all"};
        for (const std::string& option : extra) {
            if (option.rfind("--", 0) == 0) {
                argv.erase(std::remove(argv.begin(), argv.end(), "--no-" + option.substr(2)),
                           argv.end());
            }
        }
        argv.insert(argv.end(), extra.begin(), extra.end());
        ASSERT_TRUE(m_orvane.Start(argv, m_dir.Path(), m_dir.File("stderr.txt")));
        std::string line;
        ASSERT_TRUE(m_orvane.ReadLine(&line, kWaitMs));
        ASSERT_EQ(line.rfind(std::string("ready\t") + kServer + "\t", 0), 0u) << line;
    }
    int Devsim(const std::vector<std::string>& args, std::string* out, int timeoutMs) {
        std::vector<std::string> argv = {
            SystemTool("ip"), "netns", "exec",          m_peer.Name(), BinDir() + "/orvane-devsim",
            "--server",       kServer, "--source-from", "10.78.0.1"};
        argv.insert(argv.end(), args.begin(), args.end());
        return RunCommand(argv, out, timeoutMs);
    }
    // Reads the rest of the table after SIGTERM; Orvane's exit status.
    int StopOrvane(TableLines* table) {
        m_orvane.Signal(SIGTERM);
        std::string line;
        while (m_orvane.ReadLine(&line, kWaitMs)) {
            EXPECT_TRUE(table->Take(line)) << "unexpected line: " << line;
        }
        return m_orvane.Wait(kWaitMs);
    }

    PeerNamespace m_peer{"10.77.0.1/24", "10.77.0.2/24"};
    TempDir m_dir;
    ChildProcess m_orvane;
};

}  // namespace orvane::test
