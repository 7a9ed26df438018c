#include "app/batch_files.h"

#include <algorithm>
#include <vector>

#include "app/app_config.h"
#include "app/profile_file.h"
#include "support/log.h"

namespace orvane {

namespace {

// A scope file is a list a person keeps; an upgrade record grows by a line per device and run.
constexpr size_t kMaxScopeBytes = 4u << 20;
constexpr size_t kMaxRecordBytes = 256u << 20;
constexpr size_t kMaxPathBytes = 4096;
constexpr const char* kModelPrefix = "model:";

std::string Trim(const std::string& text) {
    const size_t begin = text.find_first_not_of(" \t\r");
    if (begin == std::string::npos) {
        return std::string();
    }
    return text.substr(begin, text.find_last_not_of(" \t\r") - begin + 1);
}

int ReadCount(const std::string& iniPath, const char* key, int defaultValue) {
    const int value = ReadProfileInt(iniPath, kConfigSection, key, defaultValue);
    return value < 0 ? 0 : value;
}

// The fields of one CSV line (RFC 4180), starting at `at`, which is moved past its line end. A
// quoted field may hold line breaks.
std::vector<std::string> NextCsvRow(const std::string& text, size_t* at) {
    std::vector<std::string> fields(1);
    bool quoted = false;
    size_t i = *at;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                fields.back() += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                fields.back() += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            fields.emplace_back();
        } else if (c == '\n') {
            break;
        } else if (c != '\r') {
            fields.back() += c;
        }
    }
    *at = i + 1;
    return fields;
}

int Column(const std::vector<std::string>& header, const char* name) {
    for (size_t i = 0; i < header.size(); ++i) {
        if (header[i] == name) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

}  // namespace

BatchOptions ReadBatchOptions(const std::string& iniPath) {
    BatchOptions o;
    o.szScopeFile =
        ReadProfileString(iniPath, kConfigSection, "ScopeFile", kMaxPathBytes).value_or("");
    o.szRetryFile =
        ReadProfileString(iniPath, kConfigSection, "RetryFailed", kMaxPathBytes).value_or("");
    o.iMaxAtOnce = ReadCount(iniPath, "MaxAtOnce", 0);
    o.iFirstGroup = ReadCount(iniPath, "FirstGroup", 0);
    o.iHaltAfter = ReadCount(iniPath, "HaltAfterFailures", 0);
    o.iStallMinutes = ReadCount(iniPath, "StallMinutes", kDefaultStallMinutes);
    if (o.iStallMinutes < 1) {
        o.iStallMinutes = kDefaultStallMinutes;
    }
    return o;
}

bool SaveBatchOptions(const std::string& iniPath, const BatchOptions& o) {
    const std::vector<ProfileValue> values = {
        {"ScopeFile", o.szScopeFile},
        {"RetryFailed", o.szRetryFile},
        {"MaxAtOnce", std::to_string(o.iMaxAtOnce)},
        {"FirstGroup", std::to_string(o.iFirstGroup)},
        {"HaltAfterFailures", std::to_string(o.iHaltAfter)},
        {"StallMinutes", std::to_string(o.iStallMinutes)},
    };
    if (!WriteProfileValues(iniPath, kConfigSection, values)) {
        WriteLog(kLogGeneral, "SaveBatchOptions cannot write %s", iniPath.c_str());
        return false;
    }
    return true;
}

bool ParseScopeText(const std::string& text, BatchScope* scope, std::string* error) {
    size_t at = 0;
    for (int lineNo = 1; at < text.size(); ++lineNo) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) {
            end = text.size();
        }
        std::string line = text.substr(at, end - at);
        at = end + 1;
        line = Trim(line.substr(0, line.find('#')));
        if (line.empty()) {
            continue;
        }
        if (line.compare(0, 6, kModelPrefix) == 0 && !Trim(line.substr(6)).empty()) {
            scope->setModels.insert(Trim(line.substr(6)));
            continue;
        }
        const std::string mac = NormalizeMac(line);
        if (mac.empty()) {
            *error = "line " + std::to_string(lineNo) + " is neither a MAC address nor model:NAME";
            return false;
        }
        scope->setMacs.insert(mac);
    }
    if (scope->setMacs.empty() && scope->setModels.empty()) {
        *error = "it names no device";
        return false;
    }
    return true;
}

bool ParseRetryRecord(const std::string& text, std::map<std::string, std::string>* failed,
                      std::string* error) {
    size_t at = 0;
    const std::vector<std::string> header = NextCsvRow(text, &at);
    const int macAt = Column(header, "mac");
    const int modelAt = Column(header, "model");
    const int resultAt = Column(header, "result");
    if (macAt < 0 || modelAt < 0 || resultAt < 0) {
        *error = "it is not an upgrade record (no mac, model and result columns)";
        return false;
    }
    const size_t need = static_cast<size_t>(std::max(macAt, std::max(modelAt, resultAt))) + 1;
    while (at < text.size()) {
        const std::vector<std::string> row = NextCsvRow(text, &at);
        const std::string mac = row.size() >= need ? NormalizeMac(row[macAt]) : std::string();
        if (mac.empty()) {
            continue;  // a header line again, or a made-up MAC a device sent
        }
        // Lines are in the order the outcomes came: the last one of a MAC is where it stands.
        if (row[resultAt] == "failure" || row[resultAt] == "incomplete") {
            (*failed)[mac] = row[modelAt];
        } else if (row[resultAt] == "success") {
            failed->erase(mac);
        }
    }
    return true;
}

bool LoadBatchSettings(const BatchOptions& o, BatchSettings* s, std::string* error) {
    s->iMaxAtOnce = o.iMaxAtOnce;
    s->iFirstGroup = o.iFirstGroup;
    s->iHaltAfter = o.iHaltAfter;
    s->iStallMinutes = o.iStallMinutes > 0 ? o.iStallMinutes : kDefaultStallMinutes;
    BatchScope only;
    if (!o.szScopeFile.empty()) {
        const auto text = ReadTextFile(o.szScopeFile, kMaxScopeBytes);
        std::string why = "it cannot be read";
        if (!text || !ParseScopeText(*text, &only, &why)) {
            *error = "The scope file " + o.szScopeFile + " is refused: " + why + ".";
            return false;
        }
        s->bScoped = true;
        s->scope = only;
    }
    if (!o.szRetryFile.empty()) {
        const auto text = ReadTextFile(o.szRetryFile, kMaxRecordBytes);
        std::map<std::string, std::string> failed;
        std::string why = "it cannot be read";
        if (!text || !ParseRetryRecord(*text, &failed, &why)) {
            *error = "The upgrade record " + o.szRetryFile + " is refused: " + why + ".";
            return false;
        }
        // With a scope file too, only the failed devices it takes are tried again.
        BatchScope retry;
        for (const auto& entry : failed) {
            if (o.szScopeFile.empty() || only.Contains(entry.first, entry.second)) {
                retry.setMacs.insert(entry.first);
            }
        }
        if (retry.setMacs.empty()) {
            *error = "The upgrade record " + o.szRetryFile + " names no failed device" +
                     (o.szScopeFile.empty() ? "" : " in the scope file") + ": nothing to retry.";
            return false;
        }
        s->bScoped = true;
        s->scope = retry;
    }
    return true;
}

}  // namespace orvane
