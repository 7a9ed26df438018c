#include "tools/devsim/reply_inbox.h"

#include <cstdio>
#include <stdexcept>

#include "protocol/device_message.h"

namespace orvane::devsim {

namespace {
constexpr int kPollMs = 100;  // how soon the receiver notices Stop
}

ReplyInbox::ReplyInbox(const std::vector<std::string>& macs) {
    for (size_t i = 0; i < macs.size(); ++i) {
        m_mapByMac.emplace(macs[i], i);
        m_vecSlots.push_back(std::make_unique<Slot>());
    }
}

ReplyInbox::~ReplyInbox() {
    Stop();
}

bool ReplyInbox::Start(uint16_t port, std::string* error) {
    // Shared: several simulators on one host (a group of cameras beside a group of recorders)
    // each hear every broadcast reply and keep those for their own devices.
    if (!m_socket.Open() || !m_socket.SetSharedBroadcastPort() ||
        !m_socket.Bind(platform::Endpoint{0, port})) {
        *error = "cannot listen on 0.0.0.0:" + std::to_string(port) + ": " +
                 platform::SocketErrorText(m_socket.LastError());
        return false;
    }
    // Replies to a hundred devices asking at once arrive in one burst.
    m_socket.SetReceiveBuffer(1 << 20);
    m_receiver = std::thread([this] { Receive(); });
    return true;
}

void ReplyInbox::Stop() {
    m_bStop = true;
    if (m_receiver.joinable()) {
        m_receiver.join();
    }
}

void ReplyInbox::BeginRound(size_t device) {
    std::lock_guard<std::mutex> lock(m_csSlots);
    Slot& s = *m_vecSlots[device];
    s.iLowCseq = 0;
    s.iHighCseq = -1;
    s.bHave = false;
    s.bTaken = false;
}

void ReplyInbox::Expect(size_t device, int cseq) {
    std::lock_guard<std::mutex> lock(m_csSlots);
    Slot& s = *m_vecSlots[device];
    if (s.iHighCseq < s.iLowCseq) {
        s.iLowCseq = cseq;
    }
    s.iHighCseq = cseq;
}

bool ReplyInbox::WaitReply(size_t device, SteadyTime deadline, DeviceReply* out) {
    std::unique_lock<std::mutex> lock(m_csSlots);
    Slot& s = *m_vecSlots[device];
    if (!s.cv.wait_until(lock, deadline, [&s] { return s.bHave && !s.bTaken; })) {
        return false;
    }
    s.bTaken = true;
    *out = std::move(s.reply);
    return true;
}

void ReplyInbox::Receive() {
    try {
        char buf[kMaxDatagram];
        while (!m_bStop) {
            int ready = m_socket.WaitReadable(kPollMs);
            if (ready < 0) {
                throw std::runtime_error("wait failed: " +
                                         platform::SocketErrorText(m_socket.LastError()));
            }
            if (ready == 0) {
                continue;
            }
            long n = m_socket.ReceiveFrom(buf, sizeof buf - 1, nullptr);
            SteadyTime when = std::chrono::steady_clock::now();
            if (n <= 0) {
                continue;
            }
            Deliver(buf, static_cast<size_t>(n), when);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "orvane-devsim: reply receiver stopped: %s\n", e.what());
    }
}

void ReplyInbox::Deliver(const char* data, size_t len, SteadyTime when) {
    ServerReply reply;
    std::string error;
    if (!ReadServerReply(data, len, &reply, &error)) {
        ++m_uStray;
        return;
    }
    auto it = m_mapByMac.find(reply.szIpcMac);
    if (it == m_mapByMac.end()) {
        ++m_uStray;
        return;
    }
    // The reply carries the request's Cseq plus one.
    const long long answered = reply.iCseq - 1;
    std::lock_guard<std::mutex> lock(m_csSlots);
    Slot& s = *m_vecSlots[it->second];
    if (s.bHave || answered < s.iLowCseq || answered > s.iHighCseq) {
        ++m_uStray;
        return;
    }
    s.bHave = true;
    s.reply.reply = std::move(reply);
    s.reply.iCseq = static_cast<int>(answered);
    s.reply.tReceived = when;
    s.cv.notify_one();
}

}  // namespace orvane::devsim
