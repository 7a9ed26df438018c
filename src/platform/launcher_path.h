#pragma once

#include <string>

namespace orvane::platform {

// The variable in which the orvane command (src/launcher) hands its own path to the real
// program it runs in its place: the program's folder, for Config.ini and a restart, is the
// command's, not the real program's.
inline constexpr char kLauncherPathVariable[] = "ORVANE_LAUNCHER";

// Keeps the path the orvane command handed over, if any, and removes the variable so that
// nothing this process starts inherits it. Call once at the start of main, before any thread.
void TakeLauncherPath();

// The path kept by TakeLauncherPath; empty when the real program was run directly.
const std::string& LauncherPath();

}  // namespace orvane::platform
