#include "ui/wx/ui_poster.h"

#include <wx/event.h>

namespace orvane::ui {

void UiPoster::Post(std::function<void()> fn) {
    std::lock_guard<std::mutex> lock(m_csTarget);
    if (m_pTarget) {
        m_pTarget->CallAfter(std::move(fn));
    }
}

void UiPoster::Detach() {
    std::lock_guard<std::mutex> lock(m_csTarget);
    m_pTarget = nullptr;
}

}  // namespace orvane::ui
