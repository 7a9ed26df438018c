#pragma once

#include <string>

namespace orvane {

// The program's product version as four numbers "%d.%d.%d.%d" (parts the build's version
// leaves out are 0). The one version of the build: the window title, the About box and
// --version all show it.
std::string GetProductVersionText();

}  // namespace orvane
