#include "record/record_text.h"

#include <cstdio>
#include <ctime>

#include "platform/clock.h"
#include "protocol/report_stage.h"
#include "support/language.h"
#include "support/string_table.h"
#include "support/text_ids.h"

namespace orvane {

namespace {

constexpr int kAllTexts[] = {
#define ORVANE_TEXT(name, id, chinese, english) id,
#include "support/string_table_texts.h"
#undef ORVANE_TEXT
};
// Cloud statuses that carry the service's or the download's reason after the text.
constexpr int kPrefixTexts[] = {kTextCloudDownloadFailed, kTextCloudQueryFailed};

// Length of the UTF-8 sequence starting at text[i], 0 when it is not a valid one.
size_t Utf8Length(const std::string& text, size_t i) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char c = byte(i);
    size_t len = 0;
    unsigned min = 0;
    unsigned code = 0;
    if (c < 0x80) {
        return 1;
    } else if ((c & 0xE0) == 0xC0) {
        len = 2, min = 0x80, code = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
        len = 3, min = 0x800, code = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
        len = 4, min = 0x10000, code = c & 0x07;
    } else {
        return 0;
    }
    if (i + len > text.size()) {
        return 0;
    }
    for (size_t k = 1; k < len; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) {
            return 0;
        }
        code = (code << 6) | (byte(i + k) & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
    if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
        return 0;
    }
    return len;
}

}  // namespace

std::string PrintableText(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const size_t len = Utf8Length(text, i);
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (len == 0 || c < 0x20 || c == 0x7F) {
            out += '?';
            ++i;
            continue;
        }
        out.append(text, i, len);
        i += len;
    }
    return out;
}

std::string CsvField(const std::string& text) {
    std::string value = PrintableText(text);
    if (!value.empty() &&
        (value[0] == '=' || value[0] == '+' || value[0] == '-' || value[0] == '@')) {
        value.insert(0, 1, '\'');
    }
    const bool quote = value.find_first_of(",\"") != std::string::npos ||
                       (!value.empty() && (value.front() == ' ' || value.back() == ' '));
    if (!quote) {
        return value;
    }
    std::string out = "\"";
    for (char c : value) {
        out += c;
        if (c == '"') {
            out += '"';
        }
    }
    out += '"';
    return out;
}

std::string CsvLine(const RecordLine& line) {
    const std::string* const fields[] = {
        &line.szTime,   &line.szRunStarted,    &line.szMac,          &line.szModel,
        &line.szIp,     &line.szVersionBefore, &line.szVersionAfter, &line.szResult,
        &line.szStatus, &line.szStage,         &line.szSeconds};
    std::string out;
    for (const std::string* field : fields) {
        if (field != fields[0]) {
            out += ',';
        }
        out += CsvField(*field);
    }
    out += "\r\n";
    return out;
}

std::string LocalTimeText(int64_t wallSeconds) {
    int32_t offsetSeconds = 0;
    const std::tm local = platform::LocalCalendarTime(wallSeconds, &offsetSeconds);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", &local);
    const int offset = static_cast<int>(offsetSeconds / 60) % (24 * 60);  // minutes east
    const int magnitude = offset < 0 ? -offset : offset;
    char zone[16];
    std::snprintf(zone, sizeof zone, "%c%02d:%02d", offset < 0 ? '-' : '+', magnitude / 60,
                  magnitude % 60);
    return std::string(stamp) + zone;
}

std::string EnglishStatusText(const std::string& status) {
    if (status.empty()) {
        return status;
    }
    for (int id : kAllTexts) {
        for (int language : {kLanguageEnglish, kLanguageChinese}) {
            const char* text = LookupStringTable(language, id);
            if (text && status == text) {
                return LookupStringTable(kLanguageEnglish, id);
            }
        }
    }
    for (int id : kPrefixTexts) {
        for (int language : {kLanguageEnglish, kLanguageChinese}) {
            const std::string text = LookupStringTable(language, id);
            if (status.compare(0, text.size(), text) == 0) {
                return LookupStringTable(kLanguageEnglish, id) + status.substr(text.size());
            }
        }
    }
    return status;
}

std::string StageName(const IpcInfo& record) {
    // Only reports carry a state; records of requests and the cloud path have none.
    const ReportStage* stage = FindReportStage(record.iEvent);
    if (record.szState.empty() || !stage) {
        return "request";
    }
    return stage->szCliName;
}

RecordLine DescribeRecord(const IpcInfo& record, bool success) {
    RecordLine line;
    line.szMac = record.szMac;
    line.szModel = record.szModel;
    line.szIp = record.szIpAddr;
    line.szVersionBefore = record.szPreVersion;
    if (success) {
        line.szVersionAfter = record.szUpgradedVersion;
    }
    line.szStatus = EnglishStatusText(record.szStatus);
    line.szStage = StageName(record);
    return line;
}

}  // namespace orvane
