#include "ui/headless/headless_view.h"

#include <cstdio>

#include "support/language.h"

namespace orvane {

void HeadlessView::ShowErrorText(int textId) {
    std::fprintf(stderr, "%s\n", LoadText(textId));
    std::fflush(stderr);
}

std::string HeadlessView::GetUpgradeFolder() const {
    std::lock_guard<std::mutex> lock(m_csFolder);
    return m_szFolder;
}

void HeadlessView::SetUpgradeFolder(const std::string& folder) {
    std::lock_guard<std::mutex> lock(m_csFolder);
    m_szFolder = folder;
}

}  // namespace orvane
