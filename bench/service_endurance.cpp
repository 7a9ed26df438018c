#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "app/service_control.h"
#include "common/child_process.h"
#include "common/netns.h"
#include "common/peer_namespace.h"
#include "common/recording_view.h"
#include "common/temp_dir.h"
#include "common/update_service.h"
#include "common/wait_until.h"
#include "e2e/road_fixture.h"
#include "firmware/fmw_trace.h"
#include "platform/udp_socket.h"
#include "protocol/device_message.h"

namespace orvane {
namespace {

#ifdef ORVANE_SANITIZED
constexpr int kCycles = 20;  // a sanitized cycle costs several times more
#else
constexpr int kCycles = 50;
#endif
constexpr int kWaitMs = 30000;
// Stop waits up to kThreadWaitMs for each of the dispatcher, listener, clean-up and cloud
// threads and for the request workers, and 1 s for the folder watcher.
constexpr int64_t kStopBoundMs = 5 * kThreadWaitMs + 1000;

// What a long-running process holds: its threads, open descriptors and resident memory.
struct Holdings {
    int threads = 0;
    int descriptors = 0;
    long rssKiB = 0;
};

int CountEntries(const char* folder) {
    int n = 0;
    if (DIR* d = opendir(folder)) {
        while (dirent* e = readdir(d)) {
            n += e->d_name[0] != '.';
        }
        closedir(d);
    }
    return n;
}

Holdings Measure() {
    Holdings h;
    h.threads = CountEntries("/proc/self/task");
    h.descriptors = CountEntries("/proc/self/fd") - 1;  // less the listing's own
    std::ifstream statm("/proc/self/statm");
    long pages = 0;
    long resident = 0;
    statm >> pages >> resident;
    h.rssKiB = resident * (sysconf(_SC_PAGESIZE) / 1024);
    return h;
}

// A view that lets the test wait for the table to change, without polling.
class WaitingView : public test::RecordingView {
  public:
    void OnDeviceTableChanged(const DeviceTableChange& change) override {
        RecordingView::OnDeviceTableChanged(change);
        std::lock_guard<std::mutex> lock(m_csChanges);
        ++m_uChanges;
        m_cvChanges.notify_all();
    }

    // Waits up to timeoutMs until `done` holds; it is asked again after every change (never
    // under the table's lock, which is held while a change is told).
    bool WaitUntil(const std::function<bool()>& done, int timeoutMs) {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        std::unique_lock<std::mutex> lock(m_csChanges);
        for (;;) {
            const unsigned seen = m_uChanges;
            lock.unlock();
            if (done()) {
                return true;
            }
            lock.lock();
            if (!m_cvChanges.wait_until(lock, deadline, [&] { return m_uChanges != seen; })) {
                return false;
            }
        }
    }

  private:
    std::mutex m_csChanges;
    std::condition_variable m_cvChanges;
    unsigned m_uChanges = 0;
};

// Waits up to kWaitMs for the download server to have seen `count` requests. It tells of
// them only in its request log, so this polls.
bool WaitDownloads(const test::UpdateService& files, size_t count) {
    return test::WaitUntil([&] { return files.Requests().size() >= count; }, kWaitMs);
}

// Catches what only a service started and stopped all day shows: a thread, socket, file or
// memory that every run leaves behind, a thread that misses its wait at Stop and lives on, a
// Stop held up by transfers, requests or a cloud download in flight.
TEST(ServiceEnduranceTest, StartStopCyclesWithDevicesLeaveNothingBehind) {
    ORVANE_REQUIRE_PRIVATE_NETWORK();
    test::PeerNamespace peer("10.77.0.1/24", "10.77.0.2/24");
    ASSERT_TRUE(peer.Ok());
    ASSERT_TRUE(peer.WaitLocalRunning());
    test::TempDir dir;
    std::filesystem::create_directory(dir.File("fw"));
    ASSERT_EQ(test::RunCommand({test::BinDir() + "/orvane-mkfw", "--version", "X_M100_V2.0.0.0",
                                "--image", "960K", "--pad-to", "1M", dir.File("fw/M100.bin")}),
              0);
    // The cloud is reachable, and its downloads are held halfway: in every run the cloud
    // thread is inside one when Stop comes.
    test::TempDir serviceDir;
    test::TempDir filesDir;
    test::UpdateService service;
    test::UpdateService files;
    ASSERT_TRUE(service.Start(serviceDir.Path()));
    ASSERT_TRUE(files.StartPlain(filesDir.Path(), "127.0.0.2", 443));
    service.Reply(R"({"code":200,"data":{"model":"C300","device_identify":"C300_V2",)"
                  R"("file_url":"http://127.0.0.2:443/C300_V2.bin",)"
                  R"("file_md5":"00000000000000000000000000000000"}})");
    files.Reply(std::string(64 * 1024, 'x'), "200", "hold");
    platform::Endpoint listener;
    ASSERT_TRUE(platform::Endpoint::Parse("10.77.0.1", kListenPort, &listener));
    const std::string cloudRequest =
        "Msg:Request_ipaddr\r\nVersion:C300-1.0.0.0\r\nCseq:7\r\nIPCMac:02:00:00:00:10:01\r\n";

    SetFmwTraceOutput(nullptr);  // the package reader's trace of every rebuild
    WaitingView view;
    view.SetUpgradeFolder(dir.File("fw"));
    OrvaneEngine engine(view);
    ServiceControl control(engine, view, dir.File("Config.ini"));
    StartSettings settings;
    settings.szLocalIP = "10.77.0.1";
    settings.szUpgradeFolder = dir.File("fw");

    Holdings first;
    Holdings settled;  // once the allocator has settled, a fifth of the way in
    int64_t longestStopMs = 0;
    for (int cycle = 1; cycle <= kCycles; ++cycle) {
        SCOPED_TRACE("cycle " + std::to_string(cycle));
        const StartResult started = control.Start(settings);
        ASSERT_TRUE(started.bStarted);
        ASSERT_TRUE(started.bNetConnected);
        ASSERT_EQ(engine.WaitListening(kWaitMs), 1);
        {
            // A camera whose model the folder lacks: parked for the cloud thread.
            platform::UdpSocket camera;
            ASSERT_TRUE(camera.Open());
            ASSERT_EQ(camera.SendTo(cloudRequest.data(), cloudRequest.size(), listener),
                      static_cast<long>(cloudRequest.size()));
            ASSERT_TRUE(WaitDownloads(files, static_cast<size_t>(cycle)));
            // Two devices on the road at a time: when the first one is counted, the next ones
            // are asking or downloading.
            test::ChildProcess devices;
            ASSERT_TRUE(devices.Start({test::SystemTool("ip"), "netns", "exec", peer.Name(),
                                       test::BinDir() + "/orvane-devsim", "--server", "10.77.0.1",
                                       "--devices", "6", "--concurrency", "2"}));
            ASSERT_TRUE(
                view.WaitUntil([&] { return engine.Devices().SuccessCount() >= 1; }, kWaitMs));

            const auto stopBegan = std::chrono::steady_clock::now();
            control.Stop();
            const int64_t stopMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                                       std::chrono::steady_clock::now() - stopBegan)
                                       .count();
            longestStopMs = std::max(longestStopMs, stopMs);
            EXPECT_LT(stopMs, kStopBoundMs);
            EXPECT_EQ(engine.LiveThreadCount(), 0u) << "a thread of the run missed its wait";

            devices.Signal(SIGTERM);  // what is left of their road meets a stopped service
            EXPECT_GE(devices.Wait(kWaitMs), 0);
        }
        if (cycle == 1) {
            first = Measure();
        }
        if (cycle == kCycles / 5) {
            settled = Measure();
        }
    }
    const Holdings last = Measure();
    std::printf(
        "endurance: %d cycles; after the first: %d threads, %d descriptors, %ld KiB resident; "
        "after cycle %d: %ld KiB; after the last: %d threads, %d descriptors, %ld KiB resident; "
        "longest Stop %lld ms\n",
        kCycles, first.threads, first.descriptors, first.rssKiB, kCycles / 5, settled.rssKiB,
        last.threads, last.descriptors, last.rssKiB, static_cast<long long>(longestStopMs));
    EXPECT_EQ(last.threads, first.threads);
    EXPECT_EQ(last.descriptors, first.descriptors);
    unsetenv("CURL_CA_BUNDLE");
#ifndef ORVANE_SANITIZED
    // Sanitizers hold freed memory back on purpose. Unsanitized, the allocator settles 1.5 to
    // 3.5 MiB above the first cycle within a few runs and then wanders within 2 MiB (over 400
    // cycles here): what grows beyond that after it has settled is left behind by the runs.
    EXPECT_LT(last.rssKiB, first.rssKiB + 8192);
    EXPECT_LT(last.rssKiB, settled.rssKiB + 4096);
#endif
}

}  // namespace
}  // namespace orvane
