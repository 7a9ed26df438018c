#include "firmware/upgrade_catalogue.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>

#include "firmware/fmw_package.h"
#include "platform/file.h"
#include "platform/folder_list.h"
#include "support/log.h"

namespace orvane {

namespace {

constexpr size_t kMaxPath = 255;
constexpr size_t kMaxVersionText = 255;
constexpr size_t kIpcHeaderSize = 1556;
constexpr size_t kIpcVersionAt = 296;
constexpr size_t kNvrHeaderSize = 692;
constexpr size_t kNvrVersionAt = 8;

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

bool EndsWithBin(const std::string& name) {
    return name.size() >= 4 && name.compare(name.size() - 4, 4, ".bin") == 0;
}

// The zero-terminated version text at `at` of a fixed-size header, at most 255 characters.
bool ReadHeaderText(std::FILE* f, size_t headerSize, size_t at, std::string* text) {
    std::string header(headerSize, '\0');
    if (std::fread(header.data(), 1, headerSize, f) != headerSize) {
        return false;
    }
    const char* p = header.data() + at;
    text->assign(p, strnlen(p, std::min(kMaxVersionText, headerSize - at)));
    return true;
}

bool ReadPackageText(const std::string& path, std::string* text) {
    int error = 0;
    FmwHandlePtr handle = create_fmw_header(path.c_str(), &error);
    if (!handle) {
        WriteLog(kLogInfo, "#QMDebug ipc new firmware, create_fmw_header return NULL, continue");
        return false;
    }
    const char* version = get_fmw_va_inform(handle.get(), FMW_VA_TAG_FS_VER);
    if (version == nullptr) {
        destroy_fmw_header(std::move(handle));
        WriteLog(kLogInfo,
                 "#QMDebug ipc new firmware, get_fmw_va_inform(FMW_VA_TAG_FS_VER) return NULL, "
                 "continue");
        return false;
    }
    text->assign(version, strnlen(version, kMaxVersionText));
    destroy_fmw_header(std::move(handle));
    return true;
}

// The version text and kind of an open file by its first 8 bytes; false when it is no
// firmware file of the catalogue (logged).
bool ReadVersionText(std::FILE* f, const std::string& path, const char magic[8], std::string* text,
                     int* kind) {
    if (std::memcmp(magic, kFmwMagic, 8) == 0) {
        *kind = kFirmwareIpc;
        return ReadPackageText(path, text);
    }
    if (std::memcmp(magic, "FIRMWARE", 8) == 0) {
        WriteLog(kLogInfo, "#QMDebug comfirm header is IPC dev------");
        *kind = kFirmwareIpc;
        if (!ReadHeaderText(f, kIpcHeaderSize, kIpcVersionAt, text)) {
            WriteLog(kLogInfo, "#QMDebug IPC dev, read FirmWareHeader failed, continue");
            return false;
        }
        return true;
    }
    if (std::memcmp(magic, "FIRMWNVR", 8) == 0) {
        WriteLog(kLogInfo, "#QMDebug comfirm header is NVR dev------");
        *kind = kFirmwareNvr;
        if (!ReadHeaderText(f, kNvrHeaderSize, kNvrVersionAt, text)) {
            WriteLog(kLogInfo, "#QMDebug NVR dev, read FirmWareNVRHeader failed, continue");
            return false;
        }
        return true;
    }
    WriteLog(kLogInfo, "#QMDebug comfirm header is not IPC or NVR dev, continue");
    return false;
}

// The model and version of an open firmware file, read by its kind; false when it is none.
bool ReadFirmwareRecord(std::FILE* f, const std::string& path, UpgradeFileInfo* info) {
    char magic[8];
    if (std::fread(magic, 1, sizeof magic, f) != sizeof magic) {
        return false;
    }
    std::rewind(f);
    std::string text;
    int kind = kFirmwareIpc;
    if (!ReadVersionText(f, path, magic, &text, &kind)) {
        return false;
    }
    ParseFirmwareVersion(text.c_str(), kind, info);
    std::snprintf(info->szVersion, sizeof info->szVersion, "%s-%s", info->szModel, info->szVerNum);
    info->iNvrFirmware = kind;
    return true;
}

// Whether the TFTP server would serve the open file: it must lie inside the folder once links
// are resolved, and stay below 2 GiB. Checked before anything is read, so a large file costs
// no CRC pass either.
bool IsServedFile(std::FILE* f, const std::string& folder, const std::string& path) {
    if (!platform::IsPathInsideRoot(platform::RealPath(folder), platform::RealPath(f))) {
        WriteLog(kLogInfo, "#QMDebug file leads outside the folder, continue, szFilePath=%s",
                 path.c_str());
        return false;
    }
    if (platform::FileSize(f) >= platform::kMaxServedFileSize) {
        WriteLog(kLogInfo, "#QMDebug file of 2 GiB or more, continue, szFilePath=%s", path.c_str());
        return false;
    }
    return true;
}

}  // namespace

void AddUpgradeFileInfo(std::vector<UpgradeFileInfo>& catalogue, const std::string& folder,
                        const std::string& name, FirmwareTrust* trust) {
    if (!EndsWithBin(name)) {
        WriteLog(kLogInfo, "#QMDebug find .bin failed");
        return;
    }
    const std::string path = folder + name;
    // The TFTP server refuses these names whatever the file holds (a percent sign, "..", and a
    // backslash, which it reads as a folder separator): offered, the device could not fetch it.
    if (name.find_first_of("%\\") != std::string::npos || name.find("..") != std::string::npos) {
        WriteLog(kLogInfo, "#QMDebug name the TFTP server refuses, continue, szFilePath=%s",
                 path.c_str());
        return;
    }
    // A longer path is never cut: a cut path could name another file.
    std::unique_ptr<std::FILE, FileCloser> f(
        path.size() <= kMaxPath ? platform::OpenRegularFileForRead(path) : nullptr);
    if (!f) {
        WriteLog(kLogInfo, "#QMDebug open file failed, szFilePath=%s", path.c_str());
        return;
    }
    if (!IsServedFile(f.get(), folder, path)) {
        return;
    }
    UpgradeFileInfo info;
    if (!ReadFirmwareRecord(f.get(), path, &info)) {
        return;
    }
    // Last, so only firmware costs a digest.
    if (trust != nullptr && !trust->Vouch(f.get(), name)) {
        return;
    }
    std::strncpy(info.szFileName, name.c_str(), sizeof info.szFileName - 1);
    info.iHighestVersion = 1;
    catalogue.push_back(info);
    LogUpgradeFileInfo("m_vecUpgradeFileInfo.push_back(fileInfo)", info);
}

bool ReadFirmwareModel(const std::string& path, std::string* model) {
    model->clear();
    std::unique_ptr<std::FILE, FileCloser> f(platform::OpenRegularFileForRead(path));
    UpgradeFileInfo info;
    if (!f || !ReadFirmwareRecord(f.get(), path, &info)) {
        return false;
    }
    *model = info.szModel;
    return true;
}

void SaveUpgradeFileInfo(std::vector<UpgradeFileInfo>& catalogue, std::mutex& lock,
                         const std::string& folder, FirmwareTrust* trust) {
    WriteLog(kLogInfo, "#QMDebug Enter SaveUpgradeFileInfo() strFolderName=%.255s", folder.c_str());
    std::lock_guard<std::mutex> guard(lock);
    catalogue.clear();
    std::string dir = folder;
    if (dir.empty() || dir.back() != '/') {
        dir += '/';
    }
    std::vector<platform::FolderEntry> entries;
    if (trust == nullptr || trust->BeginRebuild(dir)) {
        platform::ListFolder(dir, &entries);
    }
    WriteLog(kLogInfo, "#QMDebug SaveUpgradeFileInfo() strFolderName=%s, bFound=%d", dir.c_str(),
             entries.empty() ? 0 : 1);
    for (size_t i = 0; i < entries.size(); ++i) {
        const platform::FolderEntry& e = entries[i];
        WriteLog(kLogInfo, "#QMDebug tempFind.FindNextFile(), bFound=%d",
                 i + 1 < entries.size() ? 1 : 0);
        if (e.szName == "." || e.szName == "..") {
            WriteLog(kLogInfo, "#QMDebug tempFind.IsDots() continue");
            continue;
        }
        if (e.bDirectory) {
            WriteLog(kLogInfo, "#QMDebug tempFind.IsDirectory() continue");
            continue;
        }
        WriteLog(kLogInfo, "#QMDebug find file strPath=%s, strTmp=%s", (dir + e.szName).c_str(),
                 e.szName.c_str());
        AddUpgradeFileInfo(catalogue, dir, e.szName, trust);
    }
    WriteLog(kLogInfo, "#QMDebug tempFind.Close(),m_vecUpgradeFileInfo.size()=%d",
             static_cast<int>(catalogue.size()));
    EraseLowerVersionFiles(catalogue);
}

UpgradeCatalogue::UpgradeCatalogue(TrustRefusalCounts* refusals, VouchedSink onVouched)
    : m_onVouched(std::move(onVouched)), m_trust(refusals) {}

void UpgradeCatalogue::SetTrustKey(const std::string& keyPath) {
    std::lock_guard<std::mutex> lock(m_csUpgradeFileInfo);
    m_trust.SetKey(keyPath);
}

bool UpgradeCatalogue::IsTrustOn() const {
    std::lock_guard<std::mutex> lock(m_csUpgradeFileInfo);
    return m_trust.IsOn();
}

bool UpgradeCatalogue::IsListed(const std::string& digest) const {
    std::lock_guard<std::mutex> lock(m_csUpgradeFileInfo);
    return m_trust.IsOn() && !digest.empty() && m_trust.IsListed(digest);
}

void UpgradeCatalogue::SaveUpgradeFileInfo(const std::string& folder) {
    // The key changes only between runs, while nothing rebuilds.
    orvane::SaveUpgradeFileInfo(m_vecUpgradeFileInfo, m_csUpgradeFileInfo, folder,
                                IsTrustOn() ? &m_trust : nullptr);
    {
        std::lock_guard<std::mutex> lock(m_csUpgradeFileInfo);
        PublishVouchedFiles();
        ++m_uRebuilds;
    }
    m_cvRebuilt.notify_all();
}

void UpgradeCatalogue::AddDownloadedFile(const std::string& folder, const std::string& name) {
    std::lock_guard<std::mutex> lock(m_csUpgradeFileInfo);
    AddUpgradeFileInfo(m_vecUpgradeFileInfo, folder + "/", name,
                       m_trust.IsOn() ? &m_trust : nullptr);
    EraseLowerVersionFiles(m_vecUpgradeFileInfo);
    PublishVouchedFiles();
}

void UpgradeCatalogue::PublishVouchedFiles() {
    if (m_onVouched) {
        m_onVouched(m_trust.IsOn(), m_trust.Vouched());
    }
}

void UpgradeCatalogue::With(const std::function<void(std::vector<UpgradeFileInfo>&)>& fn) {
    std::lock_guard<std::mutex> lock(m_csUpgradeFileInfo);
    fn(m_vecUpgradeFileInfo);
}

std::vector<UpgradeFileInfo> UpgradeCatalogue::Copy() const {
    std::lock_guard<std::mutex> lock(m_csUpgradeFileInfo);
    return m_vecUpgradeFileInfo;
}

unsigned UpgradeCatalogue::Rebuilds() const {
    std::lock_guard<std::mutex> lock(m_csUpgradeFileInfo);
    return m_uRebuilds;
}

bool UpgradeCatalogue::WaitRebuilds(unsigned count, int timeoutMs) const {
    std::unique_lock<std::mutex> lock(m_csUpgradeFileInfo);
    return m_cvRebuilt.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                [&] { return m_uRebuilds >= count; });
}

}  // namespace orvane
