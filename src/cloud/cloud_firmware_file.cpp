#include "cloud/cloud_firmware_file.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <memory>

#include "platform/file.h"
#include "platform/md5.h"
#include "support/language.h"
#include "support/log.h"
#include "support/text_ids.h"

namespace orvane {

namespace {

constexpr size_t kMaxFileName = 255;
struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

std::string LowerCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// A fresh name for a download in progress: hidden, and not ending in ".bin", so neither a
// catalogue rebuild nor a device ever takes a file that is not verified yet.
std::string TemporaryName() {
    static std::atomic<unsigned> counter{0};
    return platform::kDownloadTempPrefix + std::to_string(++counter) + ".part";
}

// The download in progress, removed on every way out unless it became the firmware file.
struct TemporaryFile {
    explicit TemporaryFile(std::string name) : path(std::move(name)) {}
    ~TemporaryFile() {
        if (!path.empty() && std::remove(path.c_str()) != 0 && errno != ENOENT) {
            WriteLog(kLogMajor, "FetchCloudFirmware cannot remove %s: %s", path.c_str(),
                     platform::SystemErrorText(errno).c_str());
        }
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    std::string path;  // empty once kept
};

}  // namespace

bool GetFileMd5(const std::string& path, std::string* md5) {
    md5->clear();
    std::unique_ptr<std::FILE, FileCloser> file(platform::OpenRegularFileForRead(path));
    unsigned char digest[platform::kMd5Size];
    if (!file || !platform::Md5OfStream(file.get(), digest)) {
        return false;
    }
    static const char kHex[] = "0123456789abcdef";
    for (unsigned char byte : digest) {
        md5->push_back(kHex[byte >> 4]);
        md5->push_back(kHex[byte & 0x0f]);
    }
    return true;
}

std::string GetCloudErrorText(int code) {
    switch (code) {
        case kDownloadOk:
            return "";
        case kDownloadEmptyParameter:
            return LoadText(kTextCloudEmptyParameter);
        case kDownloadUrlError:
            return LoadText(kTextCloudUrlError);
        case kDownloadConnectFailed:
            return LoadText(kTextCloudConnectFailed);
        case kDownloadRequestFailed:
            return LoadText(kTextCloudRequestFailed);
        case kDownloadServerReject:
            return LoadText(kTextCloudServerReject);
        case kDownloadFileError:
            return LoadText(kTextCloudFileError);
        case kDownloadMd5Error:
            return LoadText(kTextCloudMd5Error);
        default:
            return LoadText(kTextCloudDownloadError);
    }
}

bool IsSafeFirmwareIdentifier(const std::string& identifier) {
    const bool control = std::any_of(identifier.begin(), identifier.end(), [](char c) {
        return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
    });
    // The TFTP server refuses "%" (and control bytes) in a name: such a file could never be
    // fetched, only fill the folder.
    return !identifier.empty() && identifier.size() + 4 <= kMaxFileName &&
           identifier.front() != '.' && !control &&
           identifier.find_first_of("/\\%") == std::string::npos &&
           identifier.find("..") == std::string::npos;
}

int FetchCloudFirmware(const CloudFirmwareInfo& info, const std::string& folder,
                       const DownloadLimits& limits, const std::atomic<int>* running,
                       const FirmwareCheck& isWanted, std::string* fileName,
                       const FirmwareCheck& isVouched) {
    fileName->clear();
    try {
        if (!IsSafeFirmwareIdentifier(info.device_identify)) {
            WriteLog(kLogMajor, "FetchCloudFirmware refused device_identify=%s",
                     info.device_identify.c_str());
            return kDownloadError;
        }
        const std::string name = info.device_identify + ".bin";
        TemporaryFile temporary(folder + "/" + TemporaryName());
        int result = DownloadCloudFile(info.file_url, temporary.path, limits, running);
        if (result != kDownloadOk) {
            return result;
        }
        std::string md5;
        if (!GetFileMd5(temporary.path, &md5) || md5 != LowerCase(info.file_md5)) {
            return kDownloadMd5Error;
        }
        if (isVouched && !isVouched(temporary.path)) {
            return kDownloadUnlisted;
        }
        // The digest proves only that the file is what the service meant to send; what it
        // meant must still be firmware of the model asked for, and must not take the name of
        // the operator's own file of another kind.
        const std::string target = folder + "/" + name;
        if (isWanted && !isWanted(temporary.path)) {
            WriteLog(kLogMajor, "FetchCloudFirmware %s is no firmware of the model asked for",
                     name.c_str());
            return kDownloadError;
        }
        if (isWanted && platform::PathExists(target) && !isWanted(target)) {
            WriteLog(kLogMajor,
                     "FetchCloudFirmware %s in the folder is no firmware of that model: kept",
                     name.c_str());
            return kDownloadError;
        }
        // Renaming replaces a file of the same name in one step: a device never sees a
        // partly written one.
        if (!platform::RenameOver(temporary.path, target)) {
            WriteLog(kLogMajor, "FetchCloudFirmware cannot name the file %s: %s", name.c_str(),
                     platform::SystemErrorText(errno).c_str());
            return kDownloadFileError;
        }
        temporary.path.clear();
        *fileName = name;
        return kDownloadOk;
    } catch (const std::exception& e) {
        WriteLog(kLogMajor, "FetchCloudFirmware failed: %s", e.what());
        return kDownloadError;
    }
}

}  // namespace orvane
