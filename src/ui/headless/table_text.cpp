#include "ui/headless/table_text.h"

#include <algorithm>

#include "support/display_text.h"
#include "support/language.h"

namespace orvane {

namespace {

constexpr int kMaxColumnWidth = 32;
// Lines besides the rows: counters, headers, and the one the cursor waits on.
constexpr int kFixedLines = 3;

// Length of the UTF-8 sequence that starts at `at`, and its code point; a stray byte counts as
// one character of its own.
size_t DecodeUtf8(const std::string& s, size_t at, unsigned* cp) {
    const auto b = static_cast<unsigned char>(s[at]);
    size_t len = b < 0x80           ? 1
                 : (b >> 5) == 0x6  ? 2
                 : (b >> 4) == 0xE  ? 3
                 : (b >> 3) == 0x1E ? 4
                                    : 1;
    if (at + len > s.size()) {
        len = 1;
    }
    unsigned v = len == 1 ? b : b & (0x7F >> len);
    for (size_t i = 1; i < len; ++i) {
        const auto c = static_cast<unsigned char>(s[at + i]);
        if ((c & 0xC0) != 0x80) {
            *cp = b;
            return 1;
        }
        v = (v << 6) | (c & 0x3F);
    }
    *cp = v;
    return len;
}

bool IsWide(unsigned cp) {
    return (cp >= 0x1100 && cp <= 0x115F) || (cp >= 0x2E80 && cp <= 0xA4CF) ||
           (cp >= 0xAC00 && cp <= 0xD7A3) || (cp >= 0xF900 && cp <= 0xFAFF) ||
           (cp >= 0xFE30 && cp <= 0xFE4F) || (cp >= 0xFF00 && cp <= 0xFF60) ||
           (cp >= 0xFFE0 && cp <= 0xFFE6) || (cp >= 0x20000 && cp <= 0x3FFFD);
}

// The longest start of `text` that takes at most `width` columns.
std::string CutToWidth(const std::string& text, int width, int* used) {
    size_t at = 0;
    int w = 0;
    while (at < text.size()) {
        unsigned cp = 0;
        size_t len = DecodeUtf8(text, at, &cp);
        int cw = IsWide(cp) ? 2 : 1;
        if (w + cw > width) {
            break;
        }
        w += cw;
        at += len;
    }
    *used = w;
    return text.substr(0, at);
}

std::string Padded(const std::string& text, int width) {
    int used = 0;
    std::string cell = CutToWidth(text, width, &used);
    return cell + std::string(width - used, ' ');
}

std::string CountersLine(const TableScreen& screen) {
    const bool chinese = GetThreadUiLanguage() == kLanguageChinese;
    return std::string(chinese ? "成功：" : "Successes:") + std::to_string(screen.successCount) +
           "   " + (chinese ? "失败：" : "Failed:") + std::to_string(screen.failCount);
}

}  // namespace

std::string FormatRowLine(const DeviceRow& row) {
    std::string line = "row";
    for (const std::string& cell : row) {
        line += '\t';
        line += SafeDisplayText(cell);
    }
    line += '\n';
    return line;
}

int DisplayWidth(const std::string& text) {
    int used = 0;
    CutToWidth(text, static_cast<int>(text.size()) * 2, &used);
    return used;
}

int VisibleRows(int height) {
    return std::max(1, height - kFixedLines - 1);
}

std::vector<std::string> RenderTableLines(const TableScreen& screen, int height, int width) {
    DeviceRow header;
    for (int c = 0; c < kDeviceColumns; ++c) {
        header[c] = LoadText(kDeviceColumnTexts[c]);
    }
    std::vector<DeviceRow> rows;
    const size_t shown = std::min(screen.rows.size(), static_cast<size_t>(VisibleRows(height)));
    for (size_t i = screen.rows.size() - shown; i < screen.rows.size(); ++i) {
        DeviceRow safe;
        for (int c = 0; c < kDeviceColumns; ++c) {
            safe[c] = SafeDisplayText(screen.rows[i][c]);
        }
        rows.push_back(safe);
    }
    int widths[kDeviceColumns] = {};
    for (int c = 0; c < kDeviceColumns; ++c) {
        widths[c] = std::min(kMaxColumnWidth, DisplayWidth(header[c]));
        for (const DeviceRow& r : rows) {
            widths[c] = std::max(widths[c], std::min(kMaxColumnWidth, DisplayWidth(r[c])));
        }
    }
    auto tableLine = [&](const DeviceRow& r) {
        std::string line;
        for (int c = 0; c < kDeviceColumns; ++c) {
            line += (c ? "  " : "") + Padded(r[c], widths[c]);
        }
        return line;
    };
    std::string counters = CountersLine(screen);
    if (!screen.note.empty()) {
        counters += "    " + screen.note;
    }
    std::vector<std::string> lines{counters, tableLine(header)};
    const int above = screen.totalRows - static_cast<int>(rows.size());
    if (above > 0) {
        lines.push_back("... (+" + std::to_string(above) + ")");
    }
    for (const DeviceRow& r : rows) {
        lines.push_back(tableLine(r));
    }
    // One column short of the width: a line that fills it would wrap on some terminals.
    for (std::string& line : lines) {
        int used = 0;
        line = CutToWidth(line, std::max(1, width - 1), &used);
        while (!line.empty() && line.back() == ' ') {
            line.pop_back();
        }
    }
    return lines;
}

}  // namespace orvane
