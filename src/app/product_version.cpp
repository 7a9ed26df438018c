#include "app/product_version.h"

#include <cstdio>
#include <cstdlib>

#ifndef ORVANE_VERSION
#error "ORVANE_VERSION comes from the project's version in CMake"
#endif

namespace orvane {

std::string GetProductVersionText() {
    int parts[4] = {0, 0, 0, 0};
    const char* text = ORVANE_VERSION;
    for (int& part : parts) {
        char* end = nullptr;
        part = static_cast<int>(std::strtol(text, &end, 10));
        if (*end != '.') {
            break;
        }
        text = end + 1;
    }
    char buf[64];
    std::snprintf(buf, sizeof buf, "%d.%d.%d.%d", parts[0], parts[1], parts[2], parts[3]);
    return buf;
}

}  // namespace orvane
