#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/child_process.h"
#include "common/netns.h"
#include "common/peer_namespace.h"
#include "common/temp_dir.h"
#include "platform/net_interfaces.h"

namespace orvane {
namespace {

constexpr int kWaitMs = 10000;
constexpr int kRoadMs = 120000;  // bound of one simulator run (it bounds itself far below)

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

// key=value fields of the simulator's summary line.
std::map<std::string, std::string> SummaryFields(const std::string& out) {
    std::map<std::string, std::string> fields;
    std::stringstream in(out.substr(0, out.find('\n')));
    std::string kv;
    while (in >> kv) {
        size_t eq = kv.find('=');
        if (eq != std::string::npos) {
            fields[kv.substr(0, eq)] = kv.substr(eq + 1);
        }
    }
    return fields;
}

// The veth's carrier follows its peer a moment later; a start before it would be refused.
bool WaitInterfaceUp(const std::string& name) {
    for (int i = 0; i < 300; ++i) {
        std::vector<platform::NetInterface> all;
        platform::ListNetInterfaces(&all);
        for (const auto& nif : all) {
            if (nif.szName == name && nif.bUp) {
                return true;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// The headless table as its lines leave it: the last texts of every row and the counters.
struct Table {
    std::map<std::string, std::vector<std::string>> rows;  // by ID
    int successes = 0;
    int failures = 0;

    bool Take(const std::string& line) {
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

    // Reads lines until the counters reach the given values (or a line is late).
    bool ReadUntil(test::ChildProcess& orvane, int wantSuccesses, int wantFailures) {
        std::string line;
        while (successes < wantSuccesses || failures < wantFailures) {
            if (!orvane.ReadLine(&line, kWaitMs)) {
                return false;
            }
            EXPECT_TRUE(Take(line)) << "unexpected line: " << line;
        }
        return successes == wantSuccesses && failures == wantFailures;
    }
};

class DeviceRoadTest : public testing::Test {
  protected:
    // Orvane serving 10.77.0.1 in the test's namespace, the devices in a peer namespace.
    void SetUp() override {
        ORVANE_REQUIRE_PRIVATE_NETWORK();
        ASSERT_TRUE(m_peer.Ok());
        ASSERT_TRUE(WaitInterfaceUp(m_peer.LocalInterface()));
        // Firmware the devices' models get: an IPC package and an NVR file.
        std::filesystem::create_directory(m_dir.File("fw"));
        ASSERT_EQ(test::RunCommand({test::BinDir() + "/orvane-mkfw", "--version", "X_M100_V2.0.0.0",
                                    "--image", "300K", "--image", "7K", m_dir.File("fw/M100.bin")}),
                  0);
        ASSERT_EQ(
            test::RunCommand({test::BinDir() + "/orvane-mkfw", "--kind", "nvr", "--version",
                              "N200_V2.0.0.7", "--pad-to", "200K", m_dir.File("fw/N200.bin")}),
            0);
        test::InstallProgram("orvane", m_dir.Path());
        m_dir.Write("Config.ini", "[CNFINFO]\r\nAppLanguage=2\r\n");  // English texts
        ASSERT_TRUE(
            m_orvane.Start({m_dir.File("orvane"), "--headless", "--ip", "10.77.0.1", "--folder",
                            m_dir.File("fw"), "--no-ip-check", "--no-force", "--no-show-all"},
                           m_dir.Path(), m_dir.File("stderr.txt")));
        std::string line;
        ASSERT_TRUE(m_orvane.ReadLine(&line, kWaitMs));
        ASSERT_EQ(line.rfind("ready\t10.77.0.1\t", 0), 0u) << line;
    }

    void TearDown() override {
        m_orvane.Signal(SIGTERM);  // nothing when it has ended already
        if (m_orvane.Pid() > 0) {
            EXPECT_EQ(m_orvane.Wait(kWaitMs), 0);
        }
    }

    // Runs the simulator among the devices; its exit status and standard output.
    int Devsim(const std::vector<std::string>& args, std::string* out) {
        std::vector<std::string> argv = {test::SystemTool("ip"),
                                         "netns",
                                         "exec",
                                         m_peer.Name(),
                                         test::BinDir() + "/orvane-devsim",
                                         "--server",
                                         "10.77.0.1"};
        argv.insert(argv.end(), args.begin(), args.end());
        return test::RunCommand(argv, out, kRoadMs);
    }

    test::PeerNamespace m_peer{"10.77.0.1/24", "10.77.0.2/24"};
    test::TempDir m_dir;
    test::ChildProcess m_orvane;
};

// Catches any break on the whole road between real processes: a device not answered, a file
// served wrong, a report that lands on the wrong row, a row given twice, a device counted
// twice or not at all, an NVR counted before its last stage.
TEST_F(DeviceRoadTest, TwentyCamerasAndFourRecordersEndAsTheyReported) {
    std::filesystem::create_directory(m_dir.File("kept"));
    std::string out;
    // Every tenth camera reports its kernel stage failed (state 6).
    ASSERT_EQ(Devsim({"--devices", "20", "--model", "M100", "--version", "1.0.0.0", "--compare",
                      m_dir.File("fw/M100.bin"), "--keep", m_dir.File("kept"), "--fail-share",
                      "0.1", "--fail-stage", "kernel", "--fail-state", "6"},
                     &out),
              0)
        << out;
    auto sum = SummaryFields(out);
    EXPECT_EQ(sum["devices"], "20");
    EXPECT_EQ(sum["answered"], "20");
    EXPECT_EQ(sum["downloaded"], "20");
    EXPECT_EQ(sum["failures"], "0");
    EXPECT_EQ(sum["injected"], "2");
    const std::string firmware = test::ReadWholeFile(m_dir.File("fw/M100.bin"));
    for (int i = 1; i <= 20; ++i) {
        EXPECT_TRUE(test::ReadWholeFile(m_dir.File("kept/dev" + std::to_string(i) + ".bin")) ==
                    firmware)
            << "device " << i;
    }
    Table table;
    ASSERT_TRUE(table.ReadUntil(m_orvane, 18, 2));

    ASSERT_EQ(Devsim({"--devices", "4", "--kind", "nvr", "--model", "N200", "--version", "2.0.0.6",
                      "--mac", "02:00:00:00:01:01", "--compare", m_dir.File("fw/N200.bin")},
                     &out),
              0)
        << out;
    ASSERT_TRUE(table.ReadUntil(m_orvane, 22, 2));
    // Every report has been counted; stopping flushes whatever row line is still on its way.
    m_orvane.Signal(SIGTERM);
    std::string line;
    while (m_orvane.ReadLine(&line, kWaitMs)) {
        EXPECT_TRUE(table.Take(line)) << "unexpected line: " << line;
    }
    EXPECT_EQ(m_orvane.Wait(kWaitMs), 0);
    EXPECT_EQ(table.successes, 22);
    EXPECT_EQ(table.failures, 2);

    // Rows 1..20 are the cameras, 21..24 the recorders, each with its last report's texts.
    ASSERT_EQ(table.rows.size(), 24u);
    std::set<std::string> addresses;
    int done = 0;
    int failed = 0;
    for (int id = 1; id <= 24; ++id) {
        const auto& r = table.rows[std::to_string(id)];
        ASSERT_EQ(r.size(), 8u) << "row " << id;
        const bool camera = id <= 20;
        EXPECT_EQ(r[2], camera ? "M100" : "N200");
        EXPECT_EQ(r[3].rfind("10.77.0.", 0), 0u) << r[3];
        addresses.insert(r[3]);
        EXPECT_EQ(r[6], camera ? "M100-1.0.0.0" : "N200-2.0.0.6");
        if (r[4] == "Upgrade complete") {
            ++done;
            EXPECT_EQ(r[5], "100%");
            EXPECT_EQ(r[7], camera ? "M100-2.0.0.0" : "N200-2.0.0.7");
        } else {
            ++failed;
            EXPECT_TRUE(camera);
            EXPECT_EQ(r[4], "kernel brush fails");
            EXPECT_EQ(r[7], "");
        }
    }
    EXPECT_EQ(done, 22);
    EXPECT_EQ(failed, 2);
    EXPECT_EQ(addresses.size(), 24u) << "every device its own address";
}

}  // namespace
}  // namespace orvane
