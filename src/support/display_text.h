#pragma once

#include <string>

namespace orvane {

// A text a device sent, made safe to show on one line of a terminal, a TSV line or a list
// cell: control characters (C0, DEL, the C1 range), the bidirectional controls (U+061C,
// U+200E/F, U+202A..U+202E, U+2066..U+2069), the zero-width and invisible ones (U+200B..U+200D,
// U+2060..U+2064, U+FEFF, U+180E) and the line and paragraph separators (U+2028/9) each become
// one '?'. A device could otherwise break a line, steer a terminal, or make one text read as
// another (a right-to-left override turns "fw.bin" around). Everything else stays as it is.
std::string SafeDisplayText(const std::string& text);

}  // namespace orvane
