#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "protocol/device_table.h"

namespace orvane {

// A MAC text in one form ("0a:1b:2c:3d:4e:5f"): twelve hex digits in any case, in pairs
// separated by ":" or "-" (or not at all); empty for anything else.
std::string NormalizeMac(const std::string& text);

// The devices a run takes: MACs (NormalizeMac form) and models (exact, as the catalogue
// matches them).
struct BatchScope {
    std::set<std::string> setMacs;
    std::set<std::string> setModels;
    bool Contains(const std::string& mac, const std::string& model) const;
};

constexpr int kDefaultStallMinutes = 10;

// What the operator set for a site's upgrade; all zero (and no scope) is every device at once,
// the run going on whatever happens.
struct BatchSettings {
    bool bScoped = false;  // only the devices of `scope` are upgraded
    BatchScope scope;
    int iMaxAtOnce = 0;   // devices between their assignment and their outcome; 0 no limit
    int iFirstGroup = 0;  // devices answered before the rest, all of which must succeed
    int iHaltAfter = 0;   // failures of the run that halt it; 0 never
    int iStallMinutes = kDefaultStallMinutes;  // silence after which a device gives its place up
    // Whether the run's devices are watched for outcomes and silence.
    bool LimitsRun() const { return iMaxAtOnce > 0 || iFirstGroup > 0 || iHaltAfter > 0; }
    bool Any() const { return bScoped || LimitsRun(); }
};

// The run's state as the front-ends, the web view and the metrics show it.
struct BatchStatus {
    bool bHalted = false;
    int iFailures = 0;  // failures of devices this run answered (silent ones included)
    int iUnderWay = 0;
    int iWaiting = 0;
};

// What the operator reads in the note line: what is in force ("Scope: 42 devices, 10 at once,
// halt after 3 failures"), or, once halted, "Halted after N failures". Empty when nothing is set.
std::string BatchNoteText(const BatchSettings& settings, const BatchStatus& status, bool chinese);

// Decides, for each device about to be upgraded, whether this run takes it now, later or not
// at all, and follows the devices it took until their outcomes. It observes the device table
// for those outcomes (with the table's lock held: it takes only its own lock then), so the
// request handling asks it before it allocates anything and the device that waits holds
// neither an address nor a transfer.
//
// A device that waits is not answered and asks again; places go to the waiting devices in
// the order they first asked, so a device that asks again sooner cannot overtake one that
// asked first. A waiting device not heard from for a minute has given up and loses its
// place in the queue (it joins at the back when it asks again).
class BatchGate : public DeviceTableObserver {
  public:
    enum class Verdict {
        kGo,          // answer it now
        kOutOfScope,  // not part of this upgrade
        kWait,        // its turn has not come
        kHalted,      // the run has halted: no new device is answered
    };

    // Start: a new run with these settings; everything of the last run is forgotten.
    void BeginRun(const BatchSettings& settings);
    BatchSettings Settings() const;
    BatchStatus Status() const;

    // The one decision of the request handling for a device: out of scope whatever it would
    // get; otherwise, when `upgrade` (it would be told a file), go, wait or halted. A device
    // that goes holds its place until its outcome, its silence, or Withdraw.
    Verdict Decide(const std::string& mac, const std::string& model, bool upgrade, int64_t nowMs);
    // The device that was let go was not answered after all (no address): its place returns,
    // and it is first in the queue again.
    void Withdraw(const std::string& mac);
    // A datagram of the device came (a report): it is not silent.
    void Heard(const std::string& mac, int64_t nowMs);
    // Devices under way silent for the stall time: their places are freed and each counts as a
    // failure of the run. Only while the run is limited.
    std::vector<std::string> TakeStalled(int64_t nowMs);

    // Called once when the run halts, with the failures that halted it; from the thread that
    // counted the failure, perhaps with the device table's lock held (post and return).
    void SetHaltHandler(std::function<void(int failures)> handler) {
        m_onHalt = std::move(handler);
    }

    void OnDeviceOutcome(const IpcInfo& record, bool success) override;

  private:
    struct UnderWay {
        int64_t iLastHeardMs = 0;
        bool bFirstGroup = false;
    };
    struct Waiter {
        std::string szMac;
        int64_t iLastAskMs = 0;
    };
    // m_cs held; true when this failure halted the run.
    bool CountFailure(bool firstGroup);
    int FreePlaces() const;
    void Halted(int failures);

    mutable std::mutex m_cs;
    BatchSettings m_settings;                       // guarded by m_cs
    std::map<std::string, UnderWay> m_mapUnderWay;  // guarded by m_cs; by MAC as sent
    std::deque<Waiter> m_queWaiting;                // guarded by m_cs; first asked first
    int m_iFirstTaken = 0;                          // guarded by m_cs
    int m_iFirstSucceeded = 0;                      // guarded by m_cs
    int m_iFailures = 0;                            // guarded by m_cs
    bool m_bHalted = false;                         // guarded by m_cs
    std::function<void(int)> m_onHalt;              // set before the service starts
};

}  // namespace orvane
