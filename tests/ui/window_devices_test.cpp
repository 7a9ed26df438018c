// The window with devices on the wire: orvane-devsim's simulated cameras against the running
// service, shown through the real model.
#include <condition_variable>
#include <mutex>

#include "window_fixture.h"

namespace orvane::test {
namespace {

// Holds a Stop before its waits until released; released at the latest when it goes.
class StopHold {
  public:
    ~StopHold() { Release(); }
    void Wait() {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_bWaiting = true;
        m_cv.wait_for(lock, std::chrono::seconds(60), [this] { return m_bReleased; });
    }
    bool Waiting() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_bWaiting;
    }
    void Release() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bReleased = true;
        m_cv.notify_all();
    }

  private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_bWaiting = false;
    bool m_bReleased = false;
};

class DevicesTest : public WindowTest {
  protected:
    // Firmware M100 2.0.0.0 in the folder, and the service started on loopback serving it.
    void StartWithFirmware() {
        const std::string folder = m_dir.File("fw");
        std::filesystem::create_directory(folder);
        ASSERT_EQ(RunCommand({BinDir() + "/orvane-mkfw", "--version", "X_M100_V2.0.0.0", "--image",
                              "64K", folder + "/M100.bin"}),
                  0);
        ASSERT_TRUE(StartOnLoopback(folder));
    }

    // Simulated cameras on version 1.0.0.0 beside the service.
    void RunDevices(ChildProcess* devsim, const std::vector<std::string>& args) {
        const std::string program = BinDir() + "/orvane-devsim";
        std::vector<std::string> argv = {program, "--server",  "127.0.0.1", "--model",
                                         "M100",  "--version", "1.0.0.0"};
        argv.insert(argv.end(), args.begin(), args.end());
        ASSERT_TRUE(devsim->Start(argv, m_dir.Path(), m_dir.File("devsim.err")));
    }
};

// Catches rows or counters that do not reach the window from the engine's threads, a window
// that freezes under a crowd (a repaint queued per change), and a Clear List that leaves rows
// or either counter behind: a thousand cameras powering on within a few seconds, one in five
// failing its kernel stage, give a thousand rows, each with its device's texts, and 800
// successes, and a click on the list while they arrive is handled before the last one is in.
TEST_F(DevicesTest, DevicesFillRowsAndCountersClearListEmptiesThem) {
    constexpr int kDevices = 1000;
    OpenWindow(kLanguageEnglish);
    ASSERT_NO_FATAL_FAILURE(StartWithFirmware());
    ChildProcess devsim;
    // At most 8 on the road at once: they all fetch from one address, and the TFTP server
    // takes only a few transfers from one address at a time.
    ASSERT_NO_FATAL_FAILURE(RunDevices(
        &devsim,
        {"--devices", std::to_string(kDevices), "--start-spread-ms", "4000", "--concurrency", "8",
         "--fail-share", "0.2", "--fail-stage", "kernel", "--fail-state", "6"}));
    const DeviceTable& model = m_pDlg->Engine().Devices();
    ASSERT_TRUE(PumpUntil([this] { return List()->GetItemCount() >= 100; }, 60000));
    ASSERT_TRUE(ClickOn(List(), [this] { return List()->GetSelectedItemCount() > 0; }));
    EXPECT_LT(model.RowCount(), kDevices) << "the click waited for the whole crowd";
    // A failed camera's last report may come after the others' successes.
    const std::string successes = std::to_string(kDevices * 4 / 5);
    const std::string failures = std::to_string(kDevices / 5);
    ASSERT_TRUE(PumpUntil(
        [&] {
            return List()->GetItemCount() == kDevices &&
                   Label(ui::IDC_STATIC_SUCCESS_COUNT) == successes &&
                   Label(ui::IDC_STATIC_FAIL_COUNT) == failures;
        },
        120000))
        << ReadWholeFile(m_dir.File("devsim.err"));
    EXPECT_EQ(devsim.Wait(60000), 0);
    EXPECT_EQ(model.RowCount(), kDevices);
    for (int row = 0; row < kDevices; ++row) {
        EXPECT_EQ(List()->GetItemText(row, 0), wxString::Format("%d", row + 1));
        EXPECT_EQ(List()->GetItemText(row, 1), "M100");
        EXPECT_TRUE(List()->GetItemText(row, 2).StartsWith("127.0.0.")) << row;
    }
    EXPECT_TRUE(SaveScreenshot(m_pDlg.get(), "window-en-rows"));

    ASSERT_TRUE(
        ClickOn(Control(ui::IDC_BTN_CLEAR_LIST), [this] { return List()->GetItemCount() == 0; }));
    EXPECT_EQ(Label(ui::IDC_STATIC_SUCCESS_COUNT), "0");
    EXPECT_EQ(model.RowCount() + model.SuccessCount() + model.FailCount(), 0);
}

// Catches a Stop that freezes the window while devices are still talking: with the Stop
// under way (held before its waits), a click is still handled and the rows still follow the
// model; Start/Stop stays disabled until the stop is over.
TEST_F(DevicesTest, StopDuringTrafficKeepsTheWindowResponsive) {
    StopHold hold;
    OpenWindow(kLanguageEnglish, [&hold](ui::WindowHooks& hooks) {
        hooks.beforeStopWaits = [&hold] { hold.Wait(); };
    });
    ASSERT_NO_FATAL_FAILURE(StartWithFirmware());
    // Two devices at a time, each reporting its stages 300 ms apart: traffic for a minute.
    ChildProcess devsim;
    ASSERT_NO_FATAL_FAILURE(
        RunDevices(&devsim, {"--devices", "40", "--concurrency", "2", "--report-gap", "300"}));
    ASSERT_TRUE(PumpUntil([this] { return List()->GetItemCount() > 0; }, 60000));

    wxWindow* startStop = Control(ui::IDC_BTN_BEGIN_UPGRADE);
    ASSERT_TRUE(ClickOn(startStop, [&hold] { return hold.Waiting(); }));
    EXPECT_FALSE(startStop->IsEnabled());
    // A click is handled (the devices' next reports may bring rows back at once)...
    bool cleared = false;
    wxWindow* clear = Control(ui::IDC_BTN_CLEAR_LIST);
    clear->Bind(wxEVT_BUTTON, [&cleared](wxCommandEvent& event) {
        cleared = true;
        event.Skip();
    });
    ASSERT_TRUE(ClickOn(clear, [&cleared] { return cleared; }));
    // ...and the rows still follow the model while the Stop is pending.
    const int rowsAfterClear = m_pDlg->Engine().Devices().RowCount();
    EXPECT_TRUE(PumpUntil(
        [this, rowsAfterClear] {
            const int rows = m_pDlg->Engine().Devices().RowCount();
            return rows > rowsAfterClear && List()->GetItemCount() == rows;
        },
        30000));
    EXPECT_EQ(m_pDlg->State(), State::kStopping);

    hold.Release();
    ASSERT_TRUE(WaitSettled(60000));
    EXPECT_EQ(m_pDlg->State(), State::kStopped);
    EXPECT_FALSE(m_pDlg->Engine().IsRunning());
    EXPECT_TRUE(startStop->IsEnabled());
    EXPECT_EQ(Label(ui::IDC_BTN_BEGIN_UPGRADE), "Start upgrade");
}

}  // namespace
}  // namespace orvane::test
