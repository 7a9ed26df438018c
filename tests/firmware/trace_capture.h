#pragma once

#include <cstdio>
#include <string>

#include "firmware/fmw_trace.h"

namespace orvane::test {

// Sends the package reader's trace into a temporary file for the life of the object.
class TraceCapture {
  public:
    TraceCapture() : m_pFile(std::tmpfile()) { SetFmwTraceOutput(m_pFile); }
    ~TraceCapture() {
        SetFmwTraceOutput(stdout);
        std::fclose(m_pFile);
    }
    TraceCapture(const TraceCapture&) = delete;
    TraceCapture& operator=(const TraceCapture&) = delete;

    // Everything traced since the last Take.
    std::string Take() {
        std::fflush(m_pFile);
        std::string text;
        std::fseek(m_pFile, m_lTaken, SEEK_SET);
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, m_pFile)) > 0) {
            text.append(buf, n);
        }
        m_lTaken += static_cast<long>(text.size());
        std::fseek(m_pFile, 0, SEEK_END);
        return text;
    }

  private:
    std::FILE* m_pFile;
    long m_lTaken = 0;
};

inline bool Contains(const std::string& text, const std::string& what) {
    return text.find(what) != std::string::npos;
}

}  // namespace orvane::test
