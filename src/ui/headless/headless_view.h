#pragma once

#include <string>
#include <vector>

#include "protocol/service_view.h"
#include "ui/headless/headless_table.h"

namespace orvane {

// The terminal front-end's view: check boxes are plain flags, errors go to standard error,
// the device model is rendered by `Table()` on `fd`.
class HeadlessView : public CopiedSettingsView {
  public:
    HeadlessView(int fd, HeadlessTable::Mode mode) : m_table(fd, mode) {}

    void OnDeviceTableChanged(const DeviceTableChange& change) override { m_table.Post(change); }
    void ShowMainWindow() override {}
    void ShowErrorText(int textId) override;
    void OnRunHalted(const std::string& note) override { m_table.PostNote(note); }

    HeadlessTable& Table() { return m_table; }

  private:
    HeadlessTable m_table;
};

struct HeadlessOptions {
    std::string szIp;      // empty: the first address of the local address list
    std::string szFolder;  // empty: the folder Config.ini selects
    // The three boxes: -1 as Config.ini has them, 0 unticked, 1 ticked.
    int iForcedUpgrade = -1;
    int iShowAllDevices = -1;
    int iIpCheck = -1;
    int iTftpWrite = -1;        // -1 as Config.ini's TftpWrite, 0 uploads refused, 1 taken
    int iTftpMaxTransfers = 0;  // 0 as Config.ini's TftpMaxTransfers, else 1..4096
    int iTftpMaxWindow = 0;     // 0 as Config.ini's TftpMaxWindow, else 1..65535
    std::string szHttp;         // ADDR:PORT of the web view; empty: none
    std::vector<std::string> vecHttpHosts;  // names the web view answers besides its address
    // The site's controls; each one not given (empty, -1) as Config.ini has it.
    std::string szScopeFile;
    std::string szRetryFile;
    int iMaxAtOnce = -1;
    int iFirstGroup = -1;
    int iHaltAfter = -1;
};

// Runs the service until SIGINT or SIGTERM; the process's exit status.
int RunHeadless(const HeadlessOptions& options);

}  // namespace orvane
