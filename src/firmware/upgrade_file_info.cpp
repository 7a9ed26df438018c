#include "firmware/upgrade_file_info.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

#include "support/log.h"

namespace orvane {

namespace {

constexpr size_t kMaxField = 255;
constexpr size_t kMaxShortText = 63;

void CopyCut(char* dst, size_t dstSize, const std::string& src) {
    std::memset(dst, 0, dstSize);
    std::memcpy(dst, src.data(), std::min(src.size(), dstSize - 1));
}

// One "%d" of a scanf pattern: optional blanks, sign, at least one digit. Out-of-range values
// are held at the int limits instead of wrapping. Returns the end, or null when no number.
const char* ReadInt(const char* p, int* value) {
    while (std::isspace(static_cast<unsigned char>(*p))) {
        ++p;
    }
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
    }
    if (!std::isdigit(static_cast<unsigned char>(*p))) {
        return nullptr;
    }
    long long v = 0;
    for (; std::isdigit(static_cast<unsigned char>(*p)); ++p) {
        if (v <= INT_MAX) {
            v = v * 10 + (*p - '0');
        }
    }
    v = negative ? -v : v;
    *value = v > INT_MAX ? INT_MAX : (v < INT_MIN ? INT_MIN : static_cast<int>(v));
    return p;
}

void ReadVersion(const char* text, int out[4]) {
    out[0] = out[1] = out[2] = out[3] = 0;
    const char* p = text;
    for (int i = 0; i < 4; ++i) {
        if (i > 0) {
            if (*p != '.') {
                return;
            }
            ++p;
        }
        p = ReadInt(p, &out[i]);
        if (p == nullptr) {
            return;
        }
    }
}

}  // namespace

void LogUpgradeFileInfo(const char* what, const UpgradeFileInfo& r) {
    WriteLog(kLogInfo,
             "#QMDebug %s,\r\n fileInfo.szVersion=%s\r\n fileInfo.iHighestVersion=%d\r\n "
             "fileInfo.szModel=%s\r\n fileInfo.szVerNum=%s\r\n fileInfo.szFileName=%s\r\n",
             what, r.szVersion, r.iHighestVersion, r.szModel, r.szVerNum, r.szFileName);
}

void ParseFirmwareVersion(const char* text, int kind, UpgradeFileInfo* record) {
    if (kind != kFirmwareIpc && kind != kFirmwareNvr) {
        return;
    }
    // Split like a tokenizer: runs of "_" are one separator, no empty fields.
    std::string fields[3];
    const char* p = text != nullptr ? text : "";
    for (int n = 0; n < 3; ++n) {
        while (*p == '_') {
            ++p;
        }
        if (*p == '\0') {
            break;
        }
        const char* start = p;
        while (*p != '\0' && *p != '_') {
            ++p;
        }
        fields[n].assign(start, std::min<size_t>(static_cast<size_t>(p - start), kMaxField));
    }
    const std::string& model = kind == kFirmwareIpc ? fields[1] : fields[0];
    const std::string& version = kind == kFirmwareIpc ? fields[2] : fields[1];
    // The version field starts with a letter such as "V".
    CopyCut(record->szModel, sizeof record->szModel, model.substr(0, kMaxShortText));
    CopyCut(record->szVerNum, sizeof record->szVerNum,
            version.size() > 1 ? version.substr(1, kMaxShortText) : std::string());
}

int CompareVersion(const char* a, const char* b) {
    if (b == nullptr || b[0] == '\0') {
        return -2;
    }
    int va[4];
    int vb[4];
    ReadVersion(a != nullptr ? a : "", va);
    ReadVersion(b, vb);
    for (int i = 0; i < 4; ++i) {
        if (va[i] != vb[i]) {
            return va[i] > vb[i] ? 1 : -1;
        }
    }
    return 0;
}

void EraseLowerVersionFiles(std::vector<UpgradeFileInfo>& catalogue) {
    for (UpgradeFileInfo& mine : catalogue) {
        if (mine.szVerNum[0] == '\0') {
            continue;
        }
        for (const UpgradeFileInfo& other : catalogue) {
            if (std::strncmp(mine.szModel, other.szModel, sizeof mine.szModel) == 0 &&
                CompareVersion(mine.szVerNum, other.szVerNum) == -1) {
                mine.iHighestVersion = 0;
                break;
            }
        }
    }
    for (auto it = catalogue.begin(); it != catalogue.end();) {
        if (it->iHighestVersion != 0) {
            ++it;
            continue;
        }
        LogUpgradeFileInfo("m_vecUpgradeFileInfo.erase(itor)", *it);
        it = catalogue.erase(it);
    }
}

}  // namespace orvane
