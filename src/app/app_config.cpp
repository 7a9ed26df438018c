#include "app/app_config.h"

#include <SimpleIni.h>

#include "platform/file.h"
#include "support/log.h"

namespace orvane {

std::string ConfigIniPath() {
    return platform::ExecutableDir() + "/Config.ini";
}

int ReadLogSwitch(const std::string& iniPath) {
    CSimpleIniA ini(false, false, false);
    if (ini.LoadFile(iniPath.c_str()) < 0) {
        return 0;
    }
    return static_cast<int>(ini.GetLongValue("CNFINFO", "LogSwitch", 0));
}

int LogThresholdFor(int logSwitch) {
    return logSwitch == 1 ? kLogInfo : kLogMajor;
}

}  // namespace orvane
