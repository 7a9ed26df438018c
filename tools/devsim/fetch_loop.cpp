#include "tools/devsim/fetch_loop.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <stdexcept>

#include "tools/devsim/tftp_fetch_session.h"

namespace orvane::devsim {

namespace {

constexpr uint64_t kWakeKey = 0;  // transfer ids start at 1
constexpr int kIdleWaitMs = 1000;

int64_t NowUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

FetchLoop& FetchLoop::Shared() {
    static FetchLoop loop;
    return loop;
}

FetchLoop::FetchLoop() {
    if (!m_set.IsValid() || !m_wake.IsValid() || !m_set.Add(m_wake.Handle(), kWakeKey)) {
        throw std::runtime_error("cannot set up the TFTP fetch loop");
    }
    m_thread = std::thread([this] { Loop(); });
}

FetchLoop::~FetchLoop() {
    {
        std::lock_guard<std::mutex> lock(m_csIncoming);
        m_bStop = true;
    }
    m_wake.Set();
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

void FetchLoop::Run(FetchSession& session, const std::string& name) {
    Pending pending;
    pending.session = &session;
    pending.name = &name;
    std::unique_lock<std::mutex> lock(m_csIncoming);
    m_vecIncoming.push_back(&pending);
    m_wake.Set();
    // Every transfer ends on its own: its resend clock and its tries bound it.
    m_cvDone.wait(lock, [&pending] { return pending.done; });
}

void FetchLoop::Loop() {
    for (;;) {
        try {
            if (!Turn()) {
                return;
            }
        } catch (const std::exception& e) {
            // Out of memory, most likely: the transfers keep their clocks and go on.
            std::fprintf(stderr, "orvane-devsim: fetch loop: %s\n", e.what());
        }
    }
}

// One wait and what it brought; false once the loop is to end.
bool FetchLoop::Turn() {
    {
        std::lock_guard<std::mutex> lock(m_csIncoming);
        if (m_bStop) {
            return false;
        }
    }
    int waitMs = kIdleWaitMs;
    if (!m_queueDue.empty()) {
        // Rounded up: waking before the time would only wait again.
        const int64_t left = m_queueDue.top().first - NowUs();
        waitMs = static_cast<int>(std::clamp<int64_t>((left + 999) / 1000, 0, kIdleWaitMs));
    }
    m_vecReady.clear();
    m_set.Wait(waitMs, &m_vecReady);
    const int64_t now = NowUs();
    for (uint64_t id : m_vecReady) {
        if (id == kWakeKey) {
            m_wake.Consume();
            AdoptIncoming(now);
            continue;
        }
        auto it = m_mapActive.find(id);
        if (it == m_mapActive.end()) {
            continue;
        }
        Step(id, *it->second->session, &FetchSession::OnReadable, now);
    }
    RunDue(now);
    return true;
}

void FetchLoop::AdoptIncoming(int64_t nowUs) {
    std::vector<Pending*> incoming;
    {
        std::lock_guard<std::mutex> lock(m_csIncoming);
        incoming.swap(m_vecIncoming);
    }
    for (Pending* p : incoming) {
        const uint64_t id = m_uNextId++;
        m_mapActive.emplace(id, p);
        bool goesOn = false;
        try {
            goesOn = p->session->Begin(*p->name, nowUs);
            if (goesOn && !m_set.Add(p->session->Handle(), id)) {
                p->session->Abandon("cannot wait on the TFTP socket");
                goesOn = false;
            }
        } catch (const std::exception& e) {
            p->session->Abandon(std::string("internal error: ") + e.what());
        }
        AfterStep(id, goesOn);
    }
}

void FetchLoop::Step(uint64_t id, FetchSession& session, bool (FetchSession::*step)(int64_t),
                     int64_t nowUs) {
    bool goesOn = false;
    try {
        goesOn = (session.*step)(nowUs);
    } catch (const std::exception& e) {
        session.Abandon(std::string("internal error: ") + e.what());
    }
    AfterStep(id, goesOn);
}

void FetchLoop::AfterStep(uint64_t id, bool goesOn) {
    auto it = m_mapActive.find(id);
    Pending* p = it->second;
    if (!goesOn) {
        m_set.Remove(p->session->Handle());
        m_mapActive.erase(it);
        {
            std::lock_guard<std::mutex> lock(m_csIncoming);
            p->done = true;  // from here on the session and `p` belong to their device again
        }
        m_cvDone.notify_all();
        return;
    }
    const int64_t due = p->session->NextDueUs();
    if (due != p->scheduledUs) {
        p->scheduledUs = due;
        m_queueDue.emplace(due, id);
    }
}

void FetchLoop::RunDue(int64_t nowUs) {
    while (!m_queueDue.empty() && m_queueDue.top().first <= nowUs) {
        const auto [due, id] = m_queueDue.top();
        m_queueDue.pop();
        auto it = m_mapActive.find(id);
        if (it == m_mapActive.end() || it->second->scheduledUs != due) {
            continue;  // ended, or its time has moved since
        }
        it->second->scheduledUs = -1;
        Step(id, *it->second->session, &FetchSession::OnTime, nowUs);
    }
}

}  // namespace orvane::devsim
