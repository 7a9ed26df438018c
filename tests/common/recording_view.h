#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "protocol/service_view.h"

namespace orvane::test {

// A ServiceView that records what the engine told it and lets tests set the check boxes.
class RecordingView : public CopiedSettingsView {
  public:
    void OnDeviceTableChanged(const DeviceTableChange&) override {}
    void ShowMainWindow() override { ++m_iRaises; }
    void ShowErrorText(int textId) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_vecErrors.push_back(textId);
        m_cv.notify_all();
    }
    // Waits up to timeoutMs for an error box; its text id, or 0.
    int WaitError(int timeoutMs) {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_cv.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                      [this] { return !m_vecErrors.empty(); });
        return m_vecErrors.empty() ? 0 : m_vecErrors.front();
    }

    std::atomic<int> m_iRaises{0};

  private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::vector<int> m_vecErrors;
};

}  // namespace orvane::test
