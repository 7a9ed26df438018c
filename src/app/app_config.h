#pragma once

#include <string>

namespace orvane {

// Path of Config.ini beside the program.
std::string ConfigIniPath();

// LogSwitch of section CNFINFO: 1 turns on the "Info" level; anything else, or no file,
// leaves only "Major" lines.
int ReadLogSwitch(const std::string& iniPath);

// The log threshold that a LogSwitch value gives.
int LogThresholdFor(int logSwitch);

}  // namespace orvane
