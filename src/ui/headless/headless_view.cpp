#include "ui/headless/headless_view.h"

#include <cstdio>

#include "support/language.h"

namespace orvane {

void HeadlessView::ShowErrorText(int textId) {
    std::fprintf(stderr, "%s\n", LoadText(textId));
    std::fflush(stderr);
}

}  // namespace orvane
