#pragma once

#include <atomic>
#include <mutex>
#include <string>

#include "protocol/device_table.h"

namespace orvane {

// What the engine asks of a front-end. Called from worker threads: implementations must not
// block on their UI thread (post and return), and the reads must be safe from any thread.
class ServiceView {
  public:
    virtual ~ServiceView() = default;

    // One change of the device model, told in the order the changes were made and with the
    // model's lock held: copy what is needed and return (see DeviceTable).
    virtual void OnDeviceTableChanged(const DeviceTableChange& change) = 0;
    // Bring the window to the front (a device reported a failure).
    virtual void ShowMainWindow() = 0;
    // Show an error box with a string-table text (e.g. kTextBindFailed).
    virtual void ShowErrorText(int textId) = 0;
    // The run halted (too many failures); `note` is the note line now ("Halted after N
    // failures"). Perhaps with the device model's lock held: post and return.
    virtual void OnRunHalted(const std::string& /*note*/) {}

    // The three check boxes, read live at the moment of use.
    virtual bool IsForcedUpgrade() const = 0;   // "Forcibly upgrade to an earlier version"
    virtual bool IsShowAllDevices() const = 0;  // "Display devices with the same version"
    virtual bool IsIpCheck() const = 0;         // "IP occupancy detection"

    // Current text of the upgrade-folder box (the rescan reads it afresh).
    virtual std::string GetUpgradeFolder() const = 0;
};

// A front-end's view whose boxes and folder are copies the front-end keeps current from its
// own thread, so the engine's threads read them without ever reaching a control.
class CopiedSettingsView : public ServiceView {
  public:
    bool IsForcedUpgrade() const override { return m_bForced.load(); }
    bool IsShowAllDevices() const override { return m_bShowAll.load(); }
    bool IsIpCheck() const override { return m_bIpCheck.load(); }
    std::string GetUpgradeFolder() const override {
        std::lock_guard<std::mutex> lock(m_csFolder);
        return m_szFolder;
    }

    void SetForcedUpgrade(bool on) { m_bForced = on; }
    void SetShowAllDevices(bool on) { m_bShowAll = on; }
    void SetIpCheck(bool on) { m_bIpCheck = on; }
    void SetUpgradeFolder(const std::string& folder) {
        std::lock_guard<std::mutex> lock(m_csFolder);
        m_szFolder = folder;
    }

  private:
    std::atomic<bool> m_bForced{false};
    std::atomic<bool> m_bShowAll{false};
    std::atomic<bool> m_bIpCheck{false};
    mutable std::mutex m_csFolder;
    std::string m_szFolder;
};

}  // namespace orvane
