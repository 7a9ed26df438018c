#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "common/netns.h"
#include "common/recording_view.h"
#include "common/temp_dir.h"
#include "platform/udp_socket.h"
#include "protocol/orvane_engine.h"
#include "support/log.h"

namespace orvane {
namespace {

using platform::Endpoint;
using platform::UdpSocket;

constexpr int kWaitMs = 5000;
// Longer than the 10 s that Stop gives each worker.
constexpr int kHoldMs = 30000;

// An engine whose request and report handling only records what reached it.
class RecordingEngine : public OrvaneEngine {
  public:
    using OrvaneEngine::OrvaneEngine;

    struct Call {
        int number;  // sequence for requests, event for reports
        std::string text;
        std::thread::id thread;
    };

    void RequestIpaddrProc(const std::string& text, int sequence) override {
        Record(m_vecRequests, sequence, text);
        std::unique_lock<std::mutex> lock(m_mutex);
        m_cv.wait_for(lock, std::chrono::milliseconds(kHoldMs), [this] { return !m_bHeld; });
    }
    int ReportMsgProc(int event, const std::string& text) override {
        Record(m_vecReports, event, text);
        return 0;
    }

    // Waits until `count` calls of that kind arrived; returns a copy of them.
    std::vector<Call> WaitRequests(size_t count) { return WaitFor(m_vecRequests, count); }
    std::vector<Call> WaitReports(size_t count) { return WaitFor(m_vecReports, count); }

    // While held, request handling does not return (for at most kHoldMs) until Release.
    void Hold() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bHeld = true;
    }
    void Release() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_bHeld = false;
        }
        m_cv.notify_all();
    }

  private:
    void Record(std::vector<Call>& calls, int number, const std::string& text) {
        std::lock_guard<std::mutex> lock(m_mutex);
        calls.push_back(Call{number, text, std::this_thread::get_id()});
        m_cv.notify_all();
    }
    std::vector<Call> WaitFor(std::vector<Call>& calls, size_t count) {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_cv.wait_for(lock, std::chrono::milliseconds(kWaitMs),
                      [&] { return calls.size() >= count; });
        return calls;
    }

    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::vector<Call> m_vecRequests;
    std::vector<Call> m_vecReports;
    bool m_bHeld = false;
};

void SendDatagram(const std::string& text) {
    UdpSocket s;
    ASSERT_TRUE(s.Open());
    ASSERT_EQ(s.SendTo(text.data(), text.size(), Endpoint{0x7F000001u, 10011}),
              static_cast<long>(text.size()));
}

std::string Request(int cseq) {
    return "Msg:Request_ipaddr\r\n"
           "Version:IPC*A1-1.0.0.4\r\n"
           "Cseq:" +
           std::to_string(cseq) +
           "\r\n"
           "IPCMac:00-11-22-33-44-55\r\n";
}

std::string Report(const char* keyword, int n) {
    return std::string("Msg:") + keyword +
           "\r\nIpaddr:127.0.0.1\r\nIPCMac:m\r\nSchedule:" + std::to_string(n) +
           "\r\nState:1\r\nVersion:A-1\r\n";
}

class ListenerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ORVANE_REQUIRE_PRIVATE_NETWORK();
        InitLog(kLogInfo, m_dir.File("Upgrade.log").c_str());
    }
    void TearDown() override {
        m_engine.Release();
        m_engine.StopService();
        InitLog(kLogMajor, "");
    }
    void Start() {
        ASSERT_TRUE(m_engine.StartService(ServiceConfig{"127.0.0.1", "", ""}));
        ASSERT_EQ(m_engine.WaitListening(kWaitMs), 1);
    }
    std::string Log() const { return test::ReadWholeFile(m_dir.File("Upgrade.log")); }
    static size_t Count(const std::string& text, const std::string& what) {
        size_t n = 0;
        for (size_t at = 0; (at = text.find(what, at)) != std::string::npos; at += what.size()) {
            ++n;
        }
        return n;
    }
    // The log is the only witness of a dropped datagram: poll it, bounded in count and time.
    bool WaitLogCount(const std::string& what, size_t count) {
        for (int i = 0; i < 200; ++i) {
            if (Count(Log(), what) >= count) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        }
        return false;
    }

    test::TempDir m_dir;
    test::RecordingView m_view;
    RecordingEngine m_engine{m_view};
};

// Catches requests routed to the dispatcher, or sequence numbers that skip or repeat.
TEST_F(ListenerTest, RequestsStartWorkersWithConsecutiveSequenceNumbers) {
    Start();
    SendDatagram(Request(41));
    SendDatagram(Request(42));
    auto calls = m_engine.WaitRequests(2);
    ASSERT_EQ(calls.size(), 2u);
    std::set<int> seqs{calls[0].number, calls[1].number};
    EXPECT_EQ(seqs, (std::set<int>{1, 2}));
    EXPECT_NE(calls[0].thread, calls[1].thread);
    for (const auto& c : calls) {
        EXPECT_EQ(c.text.find("Msg:Request_ipaddr\r\n"), 0u);
    }
    EXPECT_TRUE(m_engine.WaitReports(0).empty());
}

// Catches reports handled out of order, on several threads, or unknown texts reaching the
// report handling.
TEST_F(ListenerTest, ReportsReachTheDispatcherOneAtATimeInArrivalOrder) {
    Start();
    const char* keywords[] = {"Report_Downloading", "Report_Uboot", "Report_Kernel",
                              "Report_Update"};
    SendDatagram("Msg:NoSuchThing\r\n");
    for (int i = 0; i < 20; ++i) {
        SendDatagram(Report(keywords[i % 4], i));
    }
    auto calls = m_engine.WaitReports(20);
    ASSERT_EQ(calls.size(), 20u);
    const int events[] = {0, 1, 2, 11};
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(calls[i].number, events[i % 4]);
        EXPECT_NE(calls[i].text.find("Schedule:" + std::to_string(i) + "\r\n"), std::string::npos);
        EXPECT_EQ(calls[i].thread, calls[0].thread);
    }
    EXPECT_TRUE(m_engine.WaitRequests(0).empty());
}

// Catches datagrams handled, queued or answered while the service is paused.
TEST_F(ListenerTest, PausedServiceDropsDatagramsWithTwoLogLines) {
    Start();
    m_engine.SetPause(true);
    SendDatagram(Request(1));
    SendDatagram(Report("Report_App", 1));
    ASSERT_TRUE(WaitLogCount("#QMDebug m_bPauseTest = true, continue", 2));
    m_engine.SetPause(false);
    SendDatagram(Report("Report_Kernel", 2));
    auto reports = m_engine.WaitReports(1);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].number, 2);  // only the report after resuming
    EXPECT_TRUE(m_engine.WaitRequests(0).empty());
    std::string log = Log();
    EXPECT_EQ(Count(log, "#QMDebug m_bPauseTest = true, continue"), 2u);
    EXPECT_NE(log.find("#QMDebug ListenIPCPortProc recvfrom szRecvBuf=Msg:Request_ipaddr"),
              std::string::npos);
}

// Catches a datagram of 2048 bytes or more overrunning the buffer or losing its termination.
TEST_F(ListenerTest, OversizedDatagramIsCutTo2047Bytes) {
    Start();
    std::string big = Report("Report_User", 0) + std::string(4000, 'z');
    SendDatagram(big);
    auto reports = m_engine.WaitReports(1);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].text.size(), kMaxDatagram - 1);
    EXPECT_EQ(reports[0].text, big.substr(0, kMaxDatagram - 1));
}

// Catches Stop leaving the listener bound or workers behind: a new start binds the port again.
TEST_F(ListenerTest, StopEndsEveryThreadAndFreesThePort) {
    Start();
    SendDatagram(Request(1));
    ASSERT_EQ(m_engine.WaitRequests(1).size(), 1u);
    m_engine.StopService();
    EXPECT_FALSE(m_engine.IsRunning());
    EXPECT_EQ(m_engine.WorkerCount(), 0u);
    EXPECT_NE(Log().find("end ListenIPCPortProc"), std::string::npos);
    UdpSocket probe;
    ASSERT_TRUE(probe.Open());
    EXPECT_TRUE(probe.Bind(Endpoint{0x7F000001u, 10011}));
    probe.Close();
    Start();
    EXPECT_EQ(m_engine.RequestSeq(), 0);
}

// Catches Stop freeing the record of a worker that outlives its wait (the worker still writes
// its running flag when it ends): the record must stay listed until a later Stop or clean-up.
TEST_F(ListenerTest, StopKeepsTheRecordOfAWorkerThatOutlivesItsWait) {
    m_engine.Hold();
    Start();
    SendDatagram(Request(1));
    ASSERT_EQ(m_engine.WaitRequests(1).size(), 1u);
    m_engine.StopService();  // gives the held worker its 10 s in vain
    EXPECT_EQ(m_engine.WorkerCount(), 1u);
    m_engine.Release();
    m_engine.StopService();
    EXPECT_EQ(m_engine.WorkerCount(), 0u);
}

// Catches a finished worker left in the list forever.
TEST_F(ListenerTest, CleanUpThreadReapsFinishedWorkers) {
    Start();
    SendDatagram(Request(1));
    ASSERT_EQ(m_engine.WaitRequests(1).size(), 1u);
    // The clean-up pass runs every ~2 s; wait for its log line.
    ASSERT_TRUE(WaitLogCount("Clean RequestIpMsgProc Thread, handle", 1));
    EXPECT_EQ(m_engine.WorkerCount(), 0u);
}

// Catches a reply sent from the wrong address or port, or without its trailing NUL.
TEST_F(ListenerTest, SendToIpcBroadcastsTextAndNulFromTheChosenAddress) {
    Start();
    UdpSocket rx;
    ASSERT_TRUE(rx.Open());
    ASSERT_TRUE(rx.SetReuseAddress());
    ASSERT_TRUE(rx.Bind(Endpoint{0, 10010}));
    const std::string text = "Msg:Request_ipaddr\r\nCseq:8\r\nIPCMac:m\r\n";
    EXPECT_EQ(m_engine.SendToIPC(text.c_str(), text.size()), 0);
    ASSERT_EQ(rx.WaitReadable(kWaitMs), 1);
    char buf[2048];
    Endpoint from;
    long n = rx.ReceiveFrom(buf, sizeof buf, &from);
    ASSERT_EQ(n, static_cast<long>(text.size() + 1));
    EXPECT_EQ(std::string(buf, text.size()), text);
    EXPECT_EQ(buf[text.size()], '\0');
    EXPECT_EQ(from.Address(), "127.0.0.1");
}

// Catches a bind failure that is silent or stops the service: text 165 reaches the view and
// the other threads keep running until Stop.
TEST_F(ListenerTest, BindFailureShowsTextAndServiceRunsOn) {
    UdpSocket holder;  // no SO_REUSEADDR, so the listener's bind is refused
    ASSERT_TRUE(holder.Open());
    ASSERT_TRUE(holder.Bind(Endpoint{0x7F000001u, 10011}));
    ASSERT_TRUE(m_engine.StartService(ServiceConfig{"127.0.0.1", "", ""}));
    EXPECT_EQ(m_engine.WaitListening(kWaitMs), -1);
    EXPECT_EQ(m_view.WaitError(kWaitMs), 165);
    EXPECT_TRUE(m_engine.IsRunning());
    EXPECT_NE(Log().find("ListenIPCPortProc bind error"), std::string::npos);
}

// Catches an address that is not local being accepted for the listener.
TEST_F(ListenerTest, BindToAddressNotOnThisHostFails) {
    ASSERT_TRUE(m_engine.StartService(
        ServiceConfig{"192.0.2.1", "", ""}));  // TEST-NET-1: never configured here
    EXPECT_EQ(m_engine.WaitListening(kWaitMs), -1);
    EXPECT_EQ(m_view.WaitError(kWaitMs), 165);
}

}  // namespace
}  // namespace orvane
