#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "common/child_process.h"
#include "common/peer_namespace.h"
#include "common/temp_dir.h"

namespace orvane::test {

// key=value fields of line `index` (0 the summary, 1 the resends) of the simulator's output.
std::map<std::string, std::string> DevsimFields(const std::string& out, int index = 0);

// The headless table as its lines leave it: the last texts of every row and the counters.
struct TableLines {
    std::map<std::string, std::vector<std::string>> rows;  // by ID
    int successes = 0;
    int failures = 0;

    // False for a line that is neither a row nor a count.
    bool Take(const std::string& line);
    // Reads lines until the counters reach the given values (or a line is later than waitMs).
    bool ReadUntil(ChildProcess& orvane, int wantSuccesses, int wantFailures, int waitMs);
    // Rows at "Upgrade complete" and 100%.
    int CompleteRows() const;
};

// Orvane --headless serving 10.77.0.1 in the test's namespace, its firmware in fw/, the
// devices (orvane-devsim) in a peer namespace at 10.77.0.2. Each device fetches its file from
// an address of its own in 10.78.0.0/16 (routed to the peer), as devices that took the
// addresses Orvane gave them do: Orvane holds only a few transfers per address at once.
class RoadTest : public testing::Test {
  protected:
    static constexpr const char* kServer = "10.77.0.1";
    static constexpr const char* kDeviceRange = "10.78.0.0/16";
    static constexpr const char* kFirstDevice = "10.78.0.1";
    static constexpr int kWaitMs = 10000;

    void SetUp() override;
    void TearDown() override;

    // orvane-mkfw with `args`, writing fw/NAME.
    void MakeFirmware(const std::vector<std::string>& args, const std::string& name);
    // Starts Orvane with this Config.ini beside it and waits for its ready line.
    void StartOrvane(const std::string& configIni);
    // Runs the simulator among the devices; its exit status and standard output.
    int Devsim(const std::vector<std::string>& args, std::string* out, int timeoutMs);
    // Stops Orvane (SIGTERM) and reads the rest of its table; Orvane's exit status.
    int StopOrvane(TableLines* table);
    // Appends `rule` (iptables arguments after "-A") in the test's namespace and in the
    // devices'; TearDown deletes it from the test's namespace (the devices' goes with theirs).
    bool AddRuleOnBothSides(const std::vector<std::string>& rule);

    PeerNamespace m_peer{"10.77.0.1/24", "10.77.0.2/24"};
    TempDir m_dir;
    ChildProcess m_orvane;
    std::vector<std::vector<std::string>> m_vecRules;
};

}  // namespace orvane::test
