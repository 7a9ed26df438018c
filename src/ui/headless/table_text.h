#pragma once

#include <string>
#include <vector>

#include "protocol/device_table.h"

namespace orvane {

// The line of one row: "row", then the seven texts made safe (SafeDisplayText), TAB-separated,
// and a line feed.
std::string FormatRowLine(const DeviceRow& row);

// Columns a UTF-8 text takes on a terminal (East Asian wide characters take two).
int DisplayWidth(const std::string& text);

// What a terminal shows of the device list.
struct TableScreen {
    std::vector<DeviceRow> rows;  // the last rows of the list
    int totalRows = 0;            // rows of the whole list
    int successCount = 0;
    int failCount = 0;
    std::string note;  // what the run's controls say, beside the counters
};

// How many of the last rows a terminal `height` lines high shows.
int VisibleRows(int height);

// The lines of the live table for a terminal of `height` x `width` cells: the two counters, the
// column headers (in the calling thread's language), a line counting the rows that do not fit
// above, then the last rows; every line is cut to fit one terminal line, none ends in a line
// feed.
std::vector<std::string> RenderTableLines(const TableScreen& screen, int height, int width);

}  // namespace orvane
