#include "ui/wx/window_view.h"

#include <algorithm>

namespace orvane::ui {

WindowView::WindowView(UiPoster& poster, WindowViewActions actions)
    : m_poster(poster), m_actions(std::move(actions)) {}

// Engine threads, with the model's lock held: note and queue, nothing more.
void WindowView::OnDeviceTableChanged(const DeviceTableChange& change) {
    bool queue = false;
    {
        std::lock_guard<std::mutex> lock(m_csPending);
        if (change.kind == DeviceTableChange::kRowAdded) {
            m_iAddedRow = std::max(m_iAddedRow, change.rowIndex);
        } else if (change.kind == DeviceTableChange::kRowsCleared) {
            m_iAddedRow = -1;
        }
        queue = !m_bRefreshQueued;
        m_bRefreshQueued = true;
    }
    if (queue) {
        m_poster.Post([this] { RunRefresh(); });
    }
}

// User-interface thread. The flag is cleared before the model is read, so a change made while
// the window reads it queues another refresh instead of being missed.
void WindowView::RunRefresh() {
    int addedRow = -1;
    {
        std::lock_guard<std::mutex> lock(m_csPending);
        m_bRefreshQueued = false;
        addedRow = m_iAddedRow;
        m_iAddedRow = -1;
    }
    m_actions.refreshDevices(addedRow);
}

void WindowView::ShowMainWindow() {
    if (!m_bRaiseQueued.exchange(true)) {
        m_poster.Post([this] {
            m_bRaiseQueued = false;
            m_actions.raiseWindow();
        });
    }
}

void WindowView::ShowErrorText(int textId) {
    m_poster.Post([this, textId] { m_actions.showError(textId); });
}

// Perhaps with the model's lock held: post and return.
void WindowView::OnRunHalted(const std::string& note) {
    m_poster.Post([this, note] { m_actions.runHalted(note); });
}

}  // namespace orvane::ui
