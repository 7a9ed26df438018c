#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "protocol/device_table.h"

namespace orvane {

// The columns of the upgrade record, in order; the header line of a new file.
constexpr const char* kRecordHeader =
    "time,run_started,mac,model,ip,version_before,version_after,result,status,stage,seconds";

// One line of the upgrade record before it is written as CSV.
struct RecordLine {
    std::string szTime;        // when the outcome was decided, local time with UTC offset
    std::string szRunStarted;  // when the run's Start was pressed, same form
    std::string szMac;
    std::string szModel;
    std::string szIp;
    std::string szVersionBefore;
    std::string szVersionAfter;  // the firmware's version, on success only
    std::string szResult;        // "success", "failure" or "incomplete"
    std::string szStatus;        // the final status text in English
    std::string szStage;         // the last stage the device reported
    std::string szSeconds;       // from the first request to the outcome
};

// Text made safe for a reader: control bytes and bytes that are not UTF-8 become "?".
std::string PrintableText(const std::string& text);

// One CSV field (RFC 4180): printable text; a field that a spreadsheet would read as a
// formula (beginning with "=", "+", "-" or "@") gets a leading "'"; quoted when it holds a
// comma, a quote or a blank at either end.
std::string CsvField(const std::string& text);

// The line's fields as one CSV line ending in CR LF.
std::string CsvLine(const RecordLine& line);

// "2026-12-07T10:15:03+01:00" for wall-clock seconds since 1970, in local time.
std::string LocalTimeText(int64_t wallSeconds);

// The English text of a status shown in either language (cloud texts keep their reason);
// the status itself when it is no text of the program's.
std::string EnglishStatusText(const std::string& status);

// The last stage a record reached: the name of its last report's stage (as orvane-devsim
// names it: "download", "uboot", ..., "filesystem", "update"), or "request" before any.
std::string StageName(const IpcInfo& record);

// The record's line (result and times are the caller's).
RecordLine DescribeRecord(const IpcInfo& record, bool success);

}  // namespace orvane
