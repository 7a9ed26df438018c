#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "common/recording_view.h"
#include "platform/udp_socket.h"
#include "protocol/device_table.h"
#include "protocol/orvane_engine.h"

namespace orvane::test {

// A view that replays every notice of the device model as a front-end would, so a test can
// compare its rows with the model's and wait for texts, counters or a raised window.
class RowsView : public RecordingView {
  public:
    using Rows = std::vector<DeviceRow>;

    void OnDeviceTableChanged(const DeviceTableChange& c) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (c.kind == DeviceTableChange::kRowsCleared) {
            m_vecRows.clear();
        } else if (c.kind == DeviceTableChange::kRowAdded) {
            EXPECT_EQ(c.rowIndex, static_cast<int>(m_vecRows.size()));
            m_vecRows.push_back(c.row);
        } else if (c.kind == DeviceTableChange::kRowChanged) {
            m_vecRows.at(c.rowIndex) = c.row;
        }
        m_iSuccesses = c.successCount;
        m_cv.notify_all();
    }
    void ShowMainWindow() override {
        RecordingView::ShowMainWindow();
        std::lock_guard<std::mutex> lock(m_mutex);
        m_cv.notify_all();
    }
    Rows GetRows() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_vecRows;
    }
    // Waits up to 10 s until `done` holds for the rows and the success counter.
    bool Wait(const std::function<bool(const Rows& rows, int successes)>& done) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cv.wait_for(lock, std::chrono::seconds(10),
                             [&] { return done(m_vecRows, m_iSuccesses); });
    }

  private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    Rows m_vecRows;
    int m_iSuccesses = 0;
};

// Sends `text` as a device would, to the listener on 127.0.0.1.
inline void SendToListener(const std::string& text) {
    platform::UdpSocket s;
    ASSERT_TRUE(s.Open());
    ASSERT_EQ(s.SendTo(text.data(), text.size(), platform::Endpoint{0x7F000001u, kListenPort}),
              static_cast<long>(text.size()));
}

}  // namespace orvane::test
