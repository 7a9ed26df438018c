#pragma once

#include <atomic>
#include <mutex>
#include <string>

#include "protocol/service_view.h"
#include "ui/headless/headless_table.h"

namespace orvane {

// The terminal front-end's view: check boxes are plain flags, errors go to standard error,
// the device model is rendered by `Table()` on `fd`.
class HeadlessView : public ServiceView {
  public:
    HeadlessView(int fd, HeadlessTable::Mode mode) : m_table(fd, mode) {}

    void OnDeviceTableChanged(const DeviceTableChange& change) override { m_table.Post(change); }
    void ShowMainWindow() override {}
    void ShowErrorText(int textId) override;

    bool IsForcedUpgrade() const override { return m_bForced.load(); }
    bool IsShowAllDevices() const override { return m_bShowAll.load(); }
    bool IsIpCheck() const override { return m_bIpCheck.load(); }
    std::string GetUpgradeFolder() const override;

    void SetForcedUpgrade(bool on) { m_bForced = on; }
    void SetShowAllDevices(bool on) { m_bShowAll = on; }
    void SetIpCheck(bool on) { m_bIpCheck = on; }
    void SetUpgradeFolder(const std::string& folder);

    HeadlessTable& Table() { return m_table; }

  private:
    HeadlessTable m_table;
    std::atomic<bool> m_bForced{false};
    std::atomic<bool> m_bShowAll{false};
    std::atomic<bool> m_bIpCheck{false};
    mutable std::mutex m_csFolder;
    std::string m_szFolder;
};

struct HeadlessOptions {
    std::string szIp;      // empty: the first address of the local address list
    std::string szFolder;  // empty: the folder Config.ini selects
    // The three boxes: -1 as Config.ini has them, 0 unticked, 1 ticked.
    int iForcedUpgrade = -1;
    int iShowAllDevices = -1;
    int iIpCheck = -1;
    int iTftpWrite = -1;  // -1 as Config.ini's TftpWrite, 0 uploads refused, 1 taken
};

// Runs the service until SIGINT or SIGTERM; the process's exit status.
int RunHeadless(const HeadlessOptions& options);

}  // namespace orvane
