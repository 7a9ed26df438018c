// Progress reports: the record a report makes and its status text.
#include "protocol/orvane_engine.h"
#include "support/log.h"

namespace orvane {

int OrvaneEngine::ReportMsgProc(int event, const std::string& text) {
    WriteLog(kLogInfo, "ReportMsgProc event %d received %s", event, text.c_str());
    return 0;
}

}  // namespace orvane
