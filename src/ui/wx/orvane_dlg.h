#pragma once

#include <wx/dialog.h>

#include <functional>
#include <optional>
#include <string>

#include "app/app_config.h"
#include "app/app_startup.h"
#include "app/folder_history.h"
#include "app/service_control.h"
#include "protocol/orvane_engine.h"
#include "support/adapters.h"
#include "ui/wx/background_task.h"
#include "ui/wx/dlg_layout.h"
#include "ui/wx/ui_poster.h"
#include "ui/wx/window_view.h"

class wxButton;
class wxCheckBox;
class wxComboBox;
class wxStaticText;
class wxCloseEvent;
class wxContextMenuEvent;
class wxKeyEvent;

namespace orvane::ui {

class DeviceListCtrl;

// What the window takes from its surroundings; the defaults are the real ones, tests replace
// the ones they must (a folder picker cannot be answered from a test, a restart would end the
// test program).
struct WindowHooks {
    WindowHooks();

    StartupSteps startup;  // Config.ini, the folder box's default, crash recorder, instance
    // Shows a folder picker preset to `preset`; false when the operator cancelled.
    std::function<bool(const std::string& preset, std::string* chosen)> pickFolder;
    // Runs the program again in place of this process; returns only if that failed.
    std::function<void()> restart;
    AdapterLister adapterLister;
    // Called on the thread that is about to wait for the service to stop (none by default).
    std::function<void()> beforeStopWaits;
};

// The main window: the operator's settings, the device list over the engine's model, and the
// commands. Start and Stop run the sequence the headless mode runs, off the user-interface
// thread, so the window keeps painting while they wait.
class COrvaneDlg : public wxDialog {
  public:
    explicit COrvaneDlg(WindowHooks hooks = WindowHooks());
    ~COrvaneDlg() override;

    // The initialisation sequence. False when another instance runs (the operator has been
    // told): the window is then not to be shown.
    bool Initialise();

    enum class ServiceState { kStopped, kStarting, kRunning, kStopping };
    ServiceState State() const { return m_state; }
    OrvaneEngine& Engine() { return m_engine; }
    // Whether the window has been closed (a modal window has ended; a modeless one is hidden).
    bool IsClosed() const { return m_bClosed; }

  private:
#ifdef __WXMSW__
    void AddAboutToSystemMenu();
    WXLRESULT MSWWindowProc(WXUINT message, WXWPARAM wParam, WXLPARAM lParam) override;
#endif
    void CreateControls();
    void CreateControl(const ControlLayout& control);
    void BindEvents();
    void FillFolderBox();
    void ShowNetworkState(bool connected);
    void StartCloudCheck();
    void ShowAboutBox();
    void SaveListAsCsv();
    void RaiseWindow();
    void ShowErrorBox(int textId);
    void RefreshDevices(int addedRow);
    void EnableSettingControls(bool enable);
    void SetStaticText(wxStaticText* label, const wxString& text);

    // The commands.
    void OnBnClickedBtnBeginUpgrade(wxCommandEvent& event);
    void OnBnClickedBtnPauseTest(wxCommandEvent& event);
    void OnBnClickedBtnBrowse(wxCommandEvent& event);
    void OnBnClickedBtnClearList(wxCommandEvent& event);
    void OnBnClickedCheckIpOccupancy(wxCommandEvent& event);
    void OnCbnSelchangeComboLanguage(wxCommandEvent& event);
    void OnClose(wxCloseEvent& event);
    void OnContextMenu(wxContextMenuEvent& event);
    void OnCharHook(wxKeyEvent& event);

    void BeginStart();
    void FinishStart(const StartResult& result, const FolderHistory& folders);
    void BeginStop();
    void FinishStop();
    void ShowStartRefusal(const StartResult& result);
    StartSettings ReadStartSettings();
    void CloseWindow();
    void ShowNote();
    void ShowBatchNote(const std::string& note, bool alarm);
    void ShowSavedBatchNote();
    void ShowBatchSettings();

    WindowHooks m_hooks;
    const bool m_bChinese;  // the layout: the main thread's language

    // depends-on: m_poster outlives every member that posts through it.
    UiPoster m_poster;
    WindowView m_view;
    OrvaneEngine m_engine;
    ServiceControl m_control;
    FolderHistory m_folders;    // the folder box's entries, selection and text
    bool m_bTftpWrite = false;  // Config.ini's TftpWrite: the window has no control for it
    int m_iTftpMaxTransfers = kDefaultTftpMaxTransfers;  // Config.ini's TftpMaxTransfers
    int m_iTftpMaxWindow = kDefaultTftpMaxWindow;        // Config.ini's TftpMaxWindow
    ServiceState m_state = ServiceState::kStopped;
    bool m_bCloseAfterStop = false;   // the close waits for a Stop to end
    bool m_bCloseAfterStart = false;  // the close is asked again once a Start has settled
    bool m_bClosed = false;
    // Each reachability check gets a number; only the newest one's answer is shown.
    int m_iCloudCheck = 0;
    // The start-up check's answer when it came while a Start was under way.
    std::optional<bool> m_optPendingCloudCheck;

    wxComboBox* m_comboLocalIp = nullptr;
    wxComboBox* m_comboFolder = nullptr;
    wxComboBox* m_comboLanguage = nullptr;
    DeviceListCtrl* m_listDevice = nullptr;
    wxCheckBox* m_checkForced = nullptr;
    wxCheckBox* m_checkIpOccupancy = nullptr;
    wxCheckBox* m_checkShowAll = nullptr;
    wxButton* m_btnBeginUpgrade = nullptr;
    wxButton* m_btnPauseTest = nullptr;
    wxButton* m_btnBrowse = nullptr;
    wxStaticText* m_staticSuccessCount = nullptr;
    wxStaticText* m_staticFailCount = nullptr;
    wxStaticText* m_staticNetFailed = nullptr;
    // The note line (ShowNote): a halted run, a failed network check, a record that cannot be
    // written, the batch settings in force.
    wxString m_szNetFailedText;
    bool m_bNetConnected = true;
    bool m_bRecordFailing = false;
    wxString m_szBatchNote;
    bool m_bBatchAlarm = false;  // the run halted, or the batch files cannot be used
    // While a trust key is in force: "Signed list: N files", shown when nothing has failed.
    wxString m_szSignedListNote;

    // depends-on: declared last, so they are waited for before anything they use goes.
    BackgroundTask m_serviceTask;  // Start and Stop
    BackgroundTask m_cloudTask;    // the reachability check of the initialisation
};

}  // namespace orvane::ui
