// Floods the running engine the way a hostile host on the LAN can, and prints what it costs:
//   1. address requests at RATE per second for SECONDS, while curl clients download a 16 MiB
//      file from the engine's TFTP service in a loop: whether the process stays up, peak
//      threads, memory maps and RSS, requests dropped at the worker bound, downloads done;
//   2. reports at RATE per second for SECONDS while the dispatcher is held for HOLD_MS once
//      (standing in for a long folder rescan): peak RSS and how late reports are handled;
//   3. Stop while five request workers are stuck for 12 s each: how long Stop takes.
// Runs as root in a private network namespace of its own (everything on 127.0.0.1).
// Usage: engine_flood [RATE=20000] [SECONDS=10] [HOLD_MS=3000] [DOWNLOADERS=4]
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/udp_socket.h"
#include "protocol/orvane_engine.h"
#include "protocol/service_view.h"
#include "support/log.h"

using namespace orvane;

namespace {

class QuietView : public ServiceView {
  public:
    void OnDeviceTableChanged(const DeviceTableChange&) override {}
    void ShowMainWindow() override {}
    void ShowErrorText(int) override {}
    bool IsForcedUpgrade() const override { return false; }
    bool IsShowAllDevices() const override { return false; }
    bool IsIpCheck() const override { return false; }
    std::string GetUpgradeFolder() const override { return m_szFolder; }
    std::string m_szFolder;
};

struct Peaks {
    long threads = 0;
    long rssKiB = 0;
    long maps = 0;
};

long StatusField(const std::string& status, const char* key) {
    size_t at = status.find(key);
    return at == std::string::npos ? 0 : std::atol(status.c_str() + at + std::strlen(key));
}

// Samples /proc/self every 20 ms until stopped.
class Sampler {
  public:
    void Start() {
        m_bRun = true;
        m_thread = std::thread([this] {
            while (m_bRun.load()) {
                std::ifstream f("/proc/self/status");
                std::string status((std::istreambuf_iterator<char>(f)), {});
                std::ifstream m("/proc/self/maps");
                long maps = std::count(std::istreambuf_iterator<char>(m), {}, '\n');
                std::lock_guard<std::mutex> lock(m_mutex);
                m_peaks.threads = std::max(m_peaks.threads, StatusField(status, "Threads:"));
                m_peaks.rssKiB = std::max(m_peaks.rssKiB, StatusField(status, "VmRSS:"));
                m_peaks.maps = std::max(m_peaks.maps, maps);
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        });
    }
    Peaks Stop() {
        m_bRun = false;
        m_thread.join();
        return m_peaks;
    }

  private:
    std::atomic<bool> m_bRun{false};
    std::thread m_thread;
    std::mutex m_mutex;
    Peaks m_peaks;
};

// Sends `make(i)` at `rate` per second for `seconds`, in bursts every 5 ms.
long Flood(int rate, int seconds, const std::function<std::string(long)>& make) {
    platform::UdpSocket s;
    s.Open();
    s.SetSendBuffer(4 << 20);
    const platform::Endpoint to{0x7F000001u, kListenPort};
    const int64_t start = platform::MonotonicMs();
    long sent = 0;
    for (int64_t now = start; now - start < seconds * 1000LL; now = platform::MonotonicMs()) {
        const long due = static_cast<long>((now - start) * rate / 1000);
        for (; sent < due; ++sent) {
            std::string text = make(sent);
            s.SendTo(text.data(), text.size(), to);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return sent;
}

}  // namespace

int main(int argc, char** argv) {
    const int rate = argc > 1 ? std::atoi(argv[1]) : 20000;
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 10;
    const int holdMs = argc > 3 ? std::atoi(argv[3]) : 3000;
    const int downloaders = argc > 4 ? std::atoi(argv[4]) : 4;
    if (unshare(CLONE_NEWNET) != 0 || std::system("ip link set lo up") != 0) {
        std::perror("private network namespace (run as root)");
        return 1;
    }
    char dirTemplate[] = "/tmp/orvane-flood-XXXXXX";
    const std::string dir = mkdtemp(dirTemplate);
    std::system(("head -c 16M /dev/urandom > " + dir + "/f16.bin").c_str());
    InitLog(kLogMajor, (dir + "/Upgrade.log").c_str());

    QuietView view;
    view.m_szFolder = dir;
    std::mutex mutex;
    std::vector<int64_t> lateness;
    std::atomic<long> requests{0};
    std::atomic<int> stuckMs{0};
    std::atomic<int> stuck{0};
    OrvaneEngine engine(view);
    engine.SetHandlerHooks(
        HandlerHooks{[&](const std::string& text, int seq) {
                         ++requests;
                         if (stuckMs.load() > 0) {
                             ++stuck;
                             std::this_thread::sleep_for(std::chrono::milliseconds(stuckMs.load()));
                             return;
                         }
                         engine.Requests().RequestIpaddrProc(text, seq);
                     },
                     [&](int, const std::string& text) {
                         const long sentAt = std::atol(text.c_str() + text.find("Schedule:") + 9);
                         if (sentAt < 0) {
                             std::this_thread::sleep_for(std::chrono::milliseconds(holdMs));
                             return 0;
                         }
                         std::lock_guard<std::mutex> lock(mutex);
                         lateness.push_back(platform::MonotonicMs() - sentAt);
                         return 0;
                     },
                     nullptr});
    if (!engine.StartService(ServiceConfig{"127.0.0.1", "", dir}) ||
        engine.WaitListening(5000) != 1) {
        std::fprintf(stderr, "engine did not start\n");
        return 1;
    }

    // 1. Requests, with downloads beside them.
    std::atomic<bool> downloading{true};
    std::atomic<long> downloads{0};
    std::vector<std::thread> clients;
    for (int i = 0; i < downloaders; ++i) {
        clients.emplace_back([&] {
            while (downloading.load()) {
                if (std::system("curl -s -m 60 -o /dev/null tftp://127.0.0.1/f16.bin") == 0) {
                    ++downloads;
                }
            }
        });
    }
    Sampler sampler;
    sampler.Start();
    const long sentRequests = Flood(rate, seconds, [](long i) {
        return "Msg:Request_ipaddr\r\nVersion:IPC*A1-1.0.0.4\r\nCseq:" + std::to_string(i) +
               "\r\nIPCMac:00-11-22-33-44-55\r\n";
    });
    downloading = false;
    for (auto& c : clients) {
        c.join();
    }
    Peaks p = sampler.Stop();
    std::printf(
        "requests: %ld sent in %d s, %ld handled; peak threads %ld, peak maps %ld, "
        "peak RSS %ld KiB; TFTP downloads of 16 MiB completed: %ld\n",
        sentRequests, seconds, requests.load(), p.threads, p.maps, p.rssKiB, downloads.load());

    // 2. Reports, the dispatcher held once at the start.
    sampler.Start();
    const long sentReports = Flood(rate, seconds, [](long i) {
        const long at = i == 0 ? -1 : static_cast<long>(platform::MonotonicMs());
        return "Msg:Report_App\r\nIpaddr:127.0.0.1\r\nIPCMac:m\r\nSchedule:" + std::to_string(at) +
               "\r\nState:1\r\nVersion:A-1\r\n";
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(holdMs + 2000));
    p = sampler.Stop();
    std::lock_guard<std::mutex> lock(mutex);
    std::vector<int64_t> sorted = lateness;
    std::sort(sorted.begin(), sorted.end());
    auto pct = [&](double q) {
        return sorted.empty() ? -1 : sorted[static_cast<size_t>(q * (sorted.size() - 1))];
    };
    std::printf(
        "reports: %ld sent in %d s (dispatcher held %d ms once), %zu handled; lateness "
        "ms p50 %lld p99 %lld max %lld; peak RSS %ld KiB, peak threads %ld\n",
        sentReports, seconds, holdMs, sorted.size(), static_cast<long long>(pct(0.5)),
        static_cast<long long>(pct(0.99)), static_cast<long long>(pct(1.0)), p.rssKiB, p.threads);

    // 3. Stop with five request workers stuck for 12 s each.
    stuckMs = 12000;
    Flood(50, 1, [](long i) {
        return i >= 5 ? std::string("Msg:none\r\n")
                      : "Msg:Request_ipaddr\r\nCseq:" + std::to_string(i) + "\r\n";
    });
    const int64_t stopStart = platform::MonotonicMs();
    engine.StopService();
    const int64_t stopEnd = platform::MonotonicMs();
    std::printf("stop with %d stuck request workers: %lld ms; %zu threads still alive after it\n",
                stuck.load(), static_cast<long long>(stopEnd - stopStart),
                engine.LiveThreadCount());
    std::system(("rm -rf " + dir).c_str());
    return 0;
}
