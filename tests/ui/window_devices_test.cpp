// The window with devices on the wire: orvane-devsim's simulated cameras against the running
// service, shown through the real model.
#include "window_fixture.h"

namespace orvane::test {
namespace {

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

// Catches rows or counters that do not reach the window, a window that freezes under a crowd
// of a thousand cameras, and a Clear List that leaves rows or a counter behind.
TEST_F(DevicesTest, DevicesFillRowsAndCountersClearListEmptiesThem) {
    constexpr int kDevices = 1000;
    OpenWindow(kLanguageEnglish);
    ASSERT_NO_FATAL_FAILURE(StartWithFirmware());
    ChildProcess devsim;
    // Each device fetches from a loopback address of its own, as real devices do: the TFTP
    // server takes only 8 transfers from one address at a time.
    ASSERT_NO_FATAL_FAILURE(
        RunDevices(&devsim, {"--devices", std::to_string(kDevices), "--start-spread-ms", "4000",
                             "--concurrency", "8", "--source-from", "127.2.0.1", "--fail-share",
                             "0.2", "--fail-stage", "kernel", "--fail-state", "6"}));
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

    ASSERT_TRUE(
        ClickOn(Control(ui::IDC_BTN_CLEAR_LIST), [this] { return List()->GetItemCount() == 0; }));
    EXPECT_EQ(Label(ui::IDC_STATIC_SUCCESS_COUNT), "0");
    EXPECT_EQ(model.RowCount() + model.SuccessCount() + model.FailCount(), 0);
}

}  // namespace
}  // namespace orvane::test
