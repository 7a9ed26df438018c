#include "protocol/batch_gate.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace orvane {
namespace {

using V = BatchGate::Verdict;

// Catches MACs of a scope file or a record that never match a device's (case, separators) and
// texts that are no MAC taken for one.
TEST(BatchGateTest, NormalizeMacTakesOneFormOnly) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"02:00:00:00:0A:ff", "02:00:00:00:0a:ff"},
        {"02-00-00-00-0a-FF", "02:00:00:00:0a:ff"},
        {"020000000AfF", "02:00:00:00:0a:ff"},
        {"02:00:00:00:0a", ""},       // short
        {"02:00:00:00:0a:ff:1", ""},  // long
        {"02:00-00:00:0a:ff", ""},    // mixed separators
        {"020:00:00:00:a:ff", ""},    // separator inside a pair
        {"'02:00:00:00:0a:ff", ""},   // the record's formula guard
        {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(NormalizeMac(c.first), c.second) << c.first;
    }
}

struct Step {
    const char* what;  // "ask", "ok", "fail", "withdraw", "heard", "stall"
    const char* mac;
    int64_t atMs;
    V expected;  // for "ask"
};

// Runs the steps against a gate with `settings`; the verdicts of the asks must match.
void RunSteps(const BatchSettings& settings, const std::vector<Step>& steps, BatchGate* gate) {
    gate->BeginRun(settings);
    int i = 0;
    for (const Step& s : steps) {
        IpcInfo record;
        record.szMac = s.mac;
        const std::string what = s.what;
        if (what == "ask") {
            EXPECT_EQ(gate->Decide(s.mac, "M100", true, s.atMs), s.expected) << "step " << i;
        } else if (what == "ok" || what == "fail") {
            gate->OnDeviceOutcome(record, what == "ok");
        } else if (what == "withdraw") {
            gate->Withdraw(s.mac);
        } else if (what == "heard") {
            gate->Heard(s.mac, s.atMs);
        } else {
            gate->TakeStalled(s.atMs);
        }
        ++i;
    }
}

// Catches more devices under way than allowed, places going to whoever asks again first
// instead of who asked first, a re-asking device taking a second place, a withdrawn device
// losing its turn, and waiters that gave up holding the queue.
TEST(BatchGateTest, AtOnceLimitAnswersInTheOrderFirstAsked) {
    BatchSettings s;
    s.iMaxAtOnce = 2;
    BatchGate gate;
    RunSteps(s,
             {{"ask", "a", 0, V::kGo},
              {"ask", "b", 0, V::kGo},
              {"ask", "c", 1, V::kWait},
              {"ask", "d", 2, V::kWait},
              {"ask", "b", 3, V::kGo},  // its reply was lost: still its place
              {"ok", "a", 4, V::kGo},
              {"ask", "d", 5, V::kWait},  // c asked first
              {"ask", "c", 6, V::kGo},
              {"withdraw", "c", 7, V::kGo},
              {"ok", "b", 8, V::kGo},
              {"ask", "d", 9, V::kGo},     // one place: c's again, one free
              {"ask", "e", 10, V::kWait},  // c is first in the queue again
              {"ask", "c", 70000, V::kGo},
              {"ok", "d", 70001, V::kGo},
              {"ask", "f", 70002, V::kGo}},  // e went quiet for a minute: forgotten
             &gate);
    EXPECT_EQ(gate.Status().iUnderWay, 2);
    // A withdrawn device gives its place back at once and waits first; an unknown one is
    // nothing.
    BatchGate one;
    RunSteps(s,
             {{"ask", "a", 0, V::kGo}, {"withdraw", "a", 1, V::kGo}, {"withdraw", "z", 1, V::kGo}},
             &one);
    EXPECT_EQ(one.Status().iUnderWay, 0);
    EXPECT_EQ(one.Status().iWaiting, 1);
}

// Catches a first group that lets others in before all of it succeeded, a failure in it that
// does not halt, halts counted from devices the run never let go (made-up reports), a halt
// that still answers, and silence that neither frees a place nor counts.
TEST(BatchGateTest, FirstGroupHaltAndStallFollowOnlyTheRunsDevices) {
    struct Case {
        const char* name;
        BatchSettings settings;
        std::vector<Step> steps;
        bool halted;
        int failures;
    };
    BatchSettings first;
    first.iFirstGroup = 2;
    BatchSettings halt;
    halt.iHaltAfter = 2;
    BatchSettings stall;
    stall.iMaxAtOnce = 1;
    stall.iStallMinutes = 1;
    const std::vector<Case> cases = {
        {"first group succeeds",
         first,
         {{"ask", "a", 0, V::kGo},
          {"ask", "b", 0, V::kGo},
          {"ask", "c", 0, V::kWait},
          {"ok", "a", 1, V::kGo},
          {"ask", "c", 2, V::kWait},
          {"ok", "b", 3, V::kGo},
          {"ask", "c", 4, V::kGo},
          {"ask", "d", 4, V::kGo},
          {"fail", "c", 5, V::kGo},  // after the group: no halt of its own
          {"ask", "e", 6, V::kGo}},
         false,
         1},
        {"a failure in the first group halts",
         first,
         {{"ask", "a", 0, V::kGo}, {"fail", "a", 1, V::kGo}, {"ask", "b", 2, V::kHalted}},
         true,
         1},
        {"halt after two, made-up failures not counted",
         halt,
         {{"ask", "a", 0, V::kGo},
          {"ask", "b", 0, V::kGo},
          {"ask", "c", 0, V::kGo},
          {"fail", "x", 1, V::kGo},
          {"fail", "a", 1, V::kGo},
          {"ask", "d", 2, V::kGo},
          {"fail", "b", 3, V::kGo},
          {"ask", "e", 4, V::kHalted},
          {"ask", "c", 4, V::kGo}},  // under way: it goes on
         true,
         2},
        {"silence frees the place",
         stall,
         {{"ask", "a", 0, V::kGo},
          {"ask", "b", 0, V::kWait},
          {"heard", "a", 50000, V::kGo},
          {"stall", "", 100000, V::kGo},
          {"ask", "b", 100001, V::kWait},
          {"stall", "", 110001, V::kGo},
          {"ask", "b", 110002, V::kGo}},
         false,
         1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BatchGate gate;
        int halts = 0;
        gate.SetHaltHandler([&halts](int) { ++halts; });
        RunSteps(c.settings, c.steps, &gate);
        EXPECT_EQ(gate.Status().bHalted, c.halted);
        EXPECT_EQ(halts, c.halted ? 1 : 0);
        EXPECT_EQ(gate.Status().iFailures, c.failures);
    }
}

// Catches a scope that lets others through, or one that turns away devices needing no
// upgrade differently from those that do (both must be out of scope).
TEST(BatchGateTest, ScopeDecidesBeforeAnything) {
    BatchSettings s;
    s.bScoped = true;
    s.scope.setMacs = {"02:00:00:00:00:01"};
    s.scope.setModels = {"N200"};
    s.iMaxAtOnce = 1;
    BatchGate gate;
    gate.BeginRun(s);
    EXPECT_EQ(gate.Decide("02-00-00-00-00-01", "M100", true, 0), V::kGo);
    EXPECT_EQ(gate.Decide("02:00:00:00:00:02", "N200", false, 0), V::kGo);
    EXPECT_EQ(gate.Decide("02:00:00:00:00:03", "M100", false, 0), V::kOutOfScope);
    EXPECT_EQ(gate.Decide("02:00:00:00:00:03", "n200", true, 0), V::kOutOfScope);
    EXPECT_EQ(BatchNoteText(s, gate.Status(), false), "Scope: 1 device and 1 model, 1 at once");
}

}  // namespace
}  // namespace orvane
