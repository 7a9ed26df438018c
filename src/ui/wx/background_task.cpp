#include "ui/wx/background_task.h"

#include <system_error>

#include "support/log.h"

namespace orvane::ui {

BackgroundTask::~BackgroundTask() {
    Wait();
}

void BackgroundTask::Wait() {
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

bool BackgroundTask::Run(std::function<void()> job, std::function<void()> done) {
    if (m_bBusy.exchange(true)) {
        return false;
    }
    // The previous job has posted its finishing step and is at most returning.
    if (m_thread.joinable()) {
        m_thread.join();
    }
    try {
        m_thread = std::thread([this, job = std::move(job), done = std::move(done)]() mutable {
            try {
                job();
            } catch (...) {
                WriteLog(kLogMajor, "BackgroundTask a job ended with an exception");
            }
            // Cleared before the finishing step is queued, so that step may start the next job.
            m_bBusy = false;
            try {
                m_poster.Post(std::move(done));
            } catch (...) {
                WriteLog(kLogMajor, "BackgroundTask the finishing step could not be queued");
            }
        });
    } catch (const std::system_error&) {
        WriteLog(kLogMajor, "BackgroundTask the thread could not be created");
        m_bBusy = false;
        return false;
    }
    return true;
}

}  // namespace orvane::ui
