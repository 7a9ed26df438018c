#include "app/folder_history.h"

#include <algorithm>

namespace orvane {

void FolderHistory::Add(const std::string& folder) {
    m_vecEntries.push_back(folder);
}

void FolderHistory::Select(int index) {
    if (index < 0 || index >= static_cast<int>(m_vecEntries.size())) {
        m_iSelected = -1;
        m_szText.clear();
        return;
    }
    m_iSelected = index;
    m_szText = m_vecEntries[static_cast<size_t>(index)];
}

void FolderHistory::SetText(const std::string& text) {
    m_iSelected = -1;
    m_szText = text;
}

void FolderHistory::Browse(const std::string& folder) {
    const int looked = std::min(static_cast<int>(m_vecEntries.size()), kMaxEntries);
    for (int i = 0; i < looked; ++i) {
        if (m_vecEntries[static_cast<size_t>(i)] == folder) {
            Select(i);
            return;
        }
    }
    const bool full = static_cast<int>(m_vecEntries.size()) >= kMaxEntries;
    m_vecEntries.push_back(folder);
    if (full) {
        m_vecEntries.erase(m_vecEntries.begin());
    }
    Select(static_cast<int>(m_vecEntries.size()) - 1);
}

void FolderHistory::DropOldestBeyondLimit() {
    if (static_cast<int>(m_vecEntries.size()) <= kMaxEntries) {
        return;
    }
    m_vecEntries.erase(m_vecEntries.begin());
    if (m_iSelected == 0) {
        m_iSelected = -1;  // the edit field keeps the text of the dropped entry
    } else if (m_iSelected > 0) {
        --m_iSelected;
    }
}

std::string FolderHistory::PathValue() const {
    std::string value;
    const size_t count = std::min(m_vecEntries.size(), static_cast<size_t>(kMaxEntries));
    for (size_t i = 0; i < count; ++i) {
        if (i > 0) {
            value += '|';
        }
        value += m_vecEntries[i];
    }
    return value;
}

}  // namespace orvane
