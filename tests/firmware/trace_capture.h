#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

#include "firmware/fmw_trace.h"

namespace orvane::test {

// Sends the package reader's trace into memory for the life of the object.
class TraceCapture {
  public:
    TraceCapture() : m_pFile(open_memstream(&m_pText, &m_uSize)) { SetFmwTraceOutput(m_pFile); }
    ~TraceCapture() {
        SetFmwTraceOutput(stdout);
        std::fclose(m_pFile);
        std::free(m_pText);
    }
    TraceCapture(const TraceCapture&) = delete;
    TraceCapture& operator=(const TraceCapture&) = delete;

    // Everything traced since the last Take.
    std::string Take() {
        std::fflush(m_pFile);
        std::string text(m_pText + m_uTaken, m_uSize - m_uTaken);
        m_uTaken = m_uSize;
        return text;
    }

  private:
    char* m_pText = nullptr;
    size_t m_uSize = 0;
    size_t m_uTaken = 0;
    std::FILE* m_pFile;  // depends-on: m_pText, m_uSize
};

}  // namespace orvane::test
