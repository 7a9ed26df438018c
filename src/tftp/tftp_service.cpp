#include "tftp/tftp_service.h"

#include <cctype>

#include "platform/file.h"
#include "platform/udp_socket.h"
#include "support/log.h"
#include "tftp/tftp_worker_pool.h"

namespace orvane {

namespace {
constexpr int kStartPolls = 30;
constexpr int kStartPollMs = 100;
constexpr int kStopWaitMs = 60000;
}  // namespace

TftpService::TftpService() : m_numbers(std::make_shared<TftpRunNumbers>()) {}

TftpService::~TftpService() {
    if (m_run) {  // a service never started or already stopped has nothing more to log
        Stop();
    }
}

void TftpService::Start(const TftpSettings& settings) {
    auto taken = std::make_shared<TftpSettings>(settings);
    taken->bindAddress.clear();
    if (std::isdigit(static_cast<unsigned char>(settings.bindAddress.c_str()[0]))) {
        taken->bindAddress = settings.bindAddress.substr(0, TftpConfig::kMaxBindAddress);
    }
    TftpRun* run = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_cs);
        if (platform::IsDirectory(settings.root)) {
            if (settings.root.size() <= TftpConfig::kMaxRoot) {
                m_szRoot = settings.root;
            } else {
                // A cut path would name another folder: keep the previous root instead.
                WriteLog(kLogMajor, "root folder <%s> too long, kept <%s>", settings.root.c_str(),
                         m_szRoot.c_str());
            }
        }
        taken->root = m_szRoot;
        if (m_run) {
            m_run->SetSettings(taken);
        } else {
            auto fresh = std::make_unique<TftpRun>(taken, m_numbers);
            if (fresh->Begin()) {
                m_run = std::move(fresh);
            }
        }
        run = m_run.get();
    }
    if (run != nullptr && run->WaitStarted((kStartPolls - 1) * kStartPollMs)) {
        WriteLog(kLogInfo, "services %s started, init done", "TFTP");
    } else {
        WriteLog(kLogMajor, "service %s not started", "TFTP");
    }
    platform::ResolveResult any6 = platform::ResolvePassive("::", "0");
    platform::UdpSocket probe;
    if (any6.iError == 0 && probe.OpenLike(any6.address)) {
        WriteLog(kLogInfo, "IPv6 enabled");
    }
}

void TftpService::Stop() {
    std::unique_ptr<TftpRun> run;
    {
        std::lock_guard<std::mutex> lock(m_cs);
        run = std::move(m_run);
    }
    if (run && !run->End(kStopWaitMs)) {
        WriteLog(kLogMajor, "main TFTP thread did not end, left running");
        static_cast<void>(run.release());
    }
    WriteLog(kLogInfo, "threads have returned\n");
}

size_t TftpService::RecordCount() const {
    return m_numbers->records.load();
}

}  // namespace orvane
