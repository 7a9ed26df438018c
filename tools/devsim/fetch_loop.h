#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <queue>
#include <string>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/readiness_set.h"
#include "platform/wake_event.h"

namespace orvane::devsim {

class FetchSession;

// The thread that drives every TFTP transfer of the process. A device thread hands its
// transfer over and sleeps until it has ended, so a block costs a receive, a send and a share
// of one readiness wait, not two thread wake-ups and a sleep of its own: a thousand slow
// devices cost less than the server they download from.
class FetchLoop {
  public:
    // The process's loop, started on first use.
    static FetchLoop& Shared();
    ~FetchLoop();
    FetchLoop(const FetchLoop&) = delete;
    FetchLoop& operator=(const FetchLoop&) = delete;

    // Runs `session` (not yet begun) to its end, on the loop's thread; returns when it has
    // ended. Callable from any number of threads at once.
    void Run(FetchSession& session, const std::string& name);

  private:
    struct Pending {
        FetchSession* session = nullptr;
        const std::string* name = nullptr;
        bool done = false;  // guarded by m_csIncoming
        int64_t scheduledUs = -1;
    };

    FetchLoop();
    void Loop();
    bool Turn();
    void AdoptIncoming(int64_t nowUs);
    // One step of transfer `id` (its readable socket or its time); an exception abandons it.
    void Step(uint64_t id, FetchSession& session, bool (FetchSession::*step)(int64_t),
              int64_t nowUs);
    // After a step of transfer `id`: ends it (false) or schedules its next time.
    void AfterStep(uint64_t id, bool goesOn);
    void RunDue(int64_t nowUs);

    platform::ReadinessSet m_set;
    platform::WakeEvent m_wake;
    std::mutex m_csIncoming;
    std::condition_variable m_cvDone;
    std::vector<Pending*> m_vecIncoming;  // guarded by m_csIncoming
    bool m_bStop = false;                 // guarded by m_csIncoming
    // Loop thread only: the transfers under way by id, and their times (an entry whose time
    // is no longer its transfer's is skipped when it comes up).
    std::unordered_map<uint64_t, Pending*> m_mapActive;
    using Due = std::pair<int64_t, uint64_t>;
    std::priority_queue<Due, std::vector<Due>, std::greater<Due>> m_queueDue;
    uint64_t m_uNextId = 1;
    std::vector<uint64_t> m_vecReady;
    std::thread m_thread;
};

}  // namespace orvane::devsim
