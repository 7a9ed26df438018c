#pragma once

#include <map>
#include <string>

#include "protocol/batch_gate.h"

namespace orvane {

// The operator's controls of a site's upgrade as Config.ini and the command line give them;
// the files are read at each Start.
struct BatchOptions {
    std::string szScopeFile;                   // ScopeFile, --only: MACs and "model:NAME" lines
    std::string szRetryFile;                   // RetryFailed, --retry-failed: an upgrade record
    int iMaxAtOnce = 0;                        // MaxAtOnce, --max-at-once
    int iFirstGroup = 0;                       // FirstGroup, --first
    int iHaltAfter = 0;                        // HaltAfterFailures, --halt-after
    int iStallMinutes = kDefaultStallMinutes;  // StallMinutes (below 1: the default)
};

// The keys of section CNFINFO; missing ones (or no file) give the defaults, negative numbers 0.
BatchOptions ReadBatchOptions(const std::string& iniPath);
// Saves every key of `options`; every other line of the file stays. False when not written.
bool SaveBatchOptions(const std::string& iniPath, const BatchOptions& options);

// A scope file: one MAC ("0A:1B:2C:3D:4E:5F" or with "-", any case) or "model:NAME" a line;
// "#" starts a comment; blank lines are skipped. False, with the line named in `error`, for a
// line that is neither, or for a file that names nothing.
bool ParseScopeText(const std::string& text, BatchScope* scope, std::string* error);

// An upgrade record (CSV with its header line): the MACs (NormalizeMac form) whose last line
// is "failure" or "incomplete", each with the model of that line. False, with the reason in
// `error`, when the text is not an upgrade record.
bool ParseRetryRecord(const std::string& text, std::map<std::string, std::string>* failed,
                      std::string* error);

// Reads the files `options` names into `settings`. False, with a message for the operator in
// `error`, when a file is missing, unreadable or names no device: a scope that cannot be read
// never becomes every device.
bool LoadBatchSettings(const BatchOptions& options, BatchSettings* settings, std::string* error);

}  // namespace orvane
