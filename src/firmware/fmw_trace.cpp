#include "firmware/fmw_trace.h"

#include <atomic>
#include <cstdarg>

namespace orvane {

namespace {
std::atomic<std::FILE*> g_pTraceOut{stdout};
}  // namespace

void SetFmwTraceOutput(std::FILE* out) {
    g_pTraceOut = out;
}

void FmwTrace(const char* format, ...) {
    std::FILE* out = g_pTraceOut.load();
    if (out == nullptr) {
        return;
    }
    va_list args;
    va_start(args, format);
    std::vfprintf(out, format, args);
    va_end(args);
}

}  // namespace orvane
