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

// main's arguments in UTF-8, kept for the life of the program: on Windows taken again from the
// wide command line (argv there is in the ANSI code page, which cannot spell a folder named in
// Chinese); elsewhere argv itself. Call once at the start of main.
char** Utf8Argv(int argc, char** argv);

}  // namespace orvane::platform
