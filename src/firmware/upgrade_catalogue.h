#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "firmware/signed_list.h"
#include "firmware/upgrade_file_info.h"

namespace orvane {

// Probes one file of the upgrade folder ("QVRFMW22" package, "FIRMWARE" or "FIRMWNVR"
// header) and appends its record when it is usable; anything else is logged and left out.
// `folder` ends in "/". With `trust` given, a firmware file the signed list does not vouch
// for is left out too. The caller holds the catalogue lock.
void AddUpgradeFileInfo(std::vector<UpgradeFileInfo>& catalogue, const std::string& folder,
                        const std::string& name, FirmwareTrust* trust = nullptr);

// The model of the firmware file at `path` ("QVRFMW22" package, fully validated, or "FIRMWARE"
// / "FIRMWNVR" header), read as the catalogue reads it. False (and `model` empty) for a file
// that is no firmware, or cannot be read.
bool ReadFirmwareModel(const std::string& path, std::string* model);

// Rebuilds the catalogue from the files of `folder` (with or without a trailing "/"), in the
// order the folder lists them, then drops outranked versions. Holds `lock` for the whole
// rebuild, so a reader never sees a half-built catalogue. A folder that cannot be listed
// leaves the catalogue empty, and so does a signed list that fails its check when `trust` is
// given (it is guarded by `lock` too).
void SaveUpgradeFileInfo(std::vector<UpgradeFileInfo>& catalogue, std::mutex& lock,
                         const std::string& folder, FirmwareTrust* trust = nullptr);

// The firmware catalogue of the upgrade folder with its lock and the signed list's gate: what
// the request handling looks a model up in, the cloud thread adds a download to, and a folder
// change rebuilds. Every member may be called from any thread.
class UpgradeCatalogue {
  public:
    // Told the files the signed list vouched for after every change (under the catalogue
    // lock, so the TFTP service never serves from a list older than the catalogue's).
    using VouchedSink =
        std::function<void(bool trustOn, const std::vector<platform::FileVersion>& vouched)>;

    UpgradeCatalogue(TrustRefusalCounts* refusals, VouchedSink onVouched);
    UpgradeCatalogue(const UpgradeCatalogue&) = delete;
    UpgradeCatalogue& operator=(const UpgradeCatalogue&) = delete;

    // The signed list's key for the rebuilds that follow; empty offers every firmware file.
    void SetTrustKey(const std::string& keyPath);
    bool IsTrustOn() const;
    // Entries of the signed list the last rebuild checked; -1 without a key or when the list
    // failed its check.
    int SignedListCount() const { return m_trust.ListCount(); }
    // Whether the last signed list checked names `digest`; false without a key.
    bool IsListed(const std::string& digest) const;

    // Rebuilds from `folder`; lookups wait while it runs.
    void SaveUpgradeFileInfo(const std::string& folder);
    // Adds the downloaded `name` of `folder` (with the signed list's check when it is on) and
    // drops the versions it outranks.
    void AddDownloadedFile(const std::string& folder, const std::string& name);
    // Runs `fn` on the catalogue under its lock (a lookup that copies the chosen record out).
    // `fn` must not take any other lock of the service.
    void With(const std::function<void(std::vector<UpgradeFileInfo>&)>& fn);
    // A copy of the catalogue as it is now.
    std::vector<UpgradeFileInfo> Copy() const;
    // Number of rebuilds so far; WaitRebuilds waits up to timeoutMs for that number to reach
    // `count` and returns whether it did.
    unsigned Rebuilds() const;
    bool WaitRebuilds(unsigned count, int timeoutMs) const;

  private:
    void PublishVouchedFiles();  // under m_csUpgradeFileInfo

    const VouchedSink m_onVouched;
    // Held for a whole rebuild; never together with another lock of the service.
    mutable std::mutex m_csUpgradeFileInfo;
    std::vector<UpgradeFileInfo> m_vecUpgradeFileInfo;
    mutable std::condition_variable m_cvRebuilt;
    unsigned m_uRebuilds = 0;
    FirmwareTrust m_trust;
};

}  // namespace orvane
