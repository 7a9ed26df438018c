// Address requests: the catalogue lookup, the cloud path and the replies.
#include "protocol/orvane_engine.h"
#include "support/log.h"

namespace orvane {

void OrvaneEngine::RequestIpaddrProc(const std::string& text, int sequence) {
    WriteLog(kLogInfo, "*%d* RequestIpaddrProc received %s", sequence, text.c_str());
}

int OrvaneEngine::FindNewVersion(const std::string&, const std::string&, UpgradeFileInfo*) {
    return 1;
}

bool OrvaneEngine::assignIPAndFirmware(int, int, bool, std::string, std::string, std::string,
                                       std::string) {
    return false;
}

}  // namespace orvane
