#pragma once

#include <cstdio>
#include <string>

#include "firmware/fmw_trace.h"

namespace orvane::test {

// Sends the package reader's trace into a temporary file for the life of the object.
class TraceCapture {
  public:
    TraceCapture() { SetFmwTraceOutput(m_pFile); }
    ~TraceCapture() {
        SetFmwTraceOutput(stdout);
        std::fclose(m_pFile);
    }

    // Everything traced since the last Take.
    std::string Take() {
        std::string text;
        std::fseek(m_pFile, m_lTaken, SEEK_SET);
        for (int c; (c = std::fgetc(m_pFile)) != EOF;) {
            text += static_cast<char>(c);
        }
        m_lTaken = std::ftell(m_pFile);
        return text;
    }

  private:
    std::FILE* m_pFile = std::tmpfile();
    long m_lTaken = 0;
};

}  // namespace orvane::test
