#include "support/display_text.h"

namespace orvane {

namespace {

// The code point of the well-formed two- or three-byte UTF-8 sequence at `at`, with its
// length; 0 for anything else.
unsigned ShortSequence(const std::string& s, size_t at, size_t* length) {
    const auto b0 = static_cast<unsigned char>(s[at]);
    const auto b1 = at + 1 < s.size() ? static_cast<unsigned char>(s[at + 1]) : 0;
    const auto b2 = at + 2 < s.size() ? static_cast<unsigned char>(s[at + 2]) : 0;
    if ((b0 & 0xE0) == 0xC0 && (b1 & 0xC0) == 0x80) {
        *length = 2;
        return ((b0 & 0x1Fu) << 6) | (b1 & 0x3Fu);
    }
    if ((b0 & 0xF0) == 0xE0 && (b1 & 0xC0) == 0x80 && (b2 & 0xC0) == 0x80) {
        *length = 3;
        return ((b0 & 0x0Fu) << 12) | ((b1 & 0x3Fu) << 6) | (b2 & 0x3Fu);
    }
    return 0;
}

bool IsHiddenFormatting(unsigned cp) {
    return (cp >= 0x80 && cp <= 0x9F) || cp == 0x061C || cp == 0x180E ||
           (cp >= 0x200B && cp <= 0x200F) || (cp >= 0x2028 && cp <= 0x202E) ||
           (cp >= 0x2060 && cp <= 0x2069) || cp == 0xFEFF;
}

}  // namespace

std::string SafeDisplayText(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const auto b = static_cast<unsigned char>(text[i]);
        if (b < 0x20 || b == 0x7F) {
            out += '?';
            ++i;
            continue;
        }
        size_t length = 1;
        const unsigned cp = b < 0x80 ? 0 : ShortSequence(text, i, &length);
        if (cp != 0 && IsHiddenFormatting(cp)) {
            out += '?';
        } else {
            out.append(text, i, length);
        }
        i += length;
    }
    return out;
}

}  // namespace orvane
