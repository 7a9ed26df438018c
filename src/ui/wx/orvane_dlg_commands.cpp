// The operator's commands of the main window.
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/combobox.h>
#include <wx/filename.h>
#include <wx/msgdlg.h>
#include <wx/stattext.h>

#include "app/profile_file.h"
#include "firmware/signed_list.h"
#include "platform/file.h"
#include "support/language.h"
#include "support/text_ids.h"
#include "ui/wx/device_list_ctrl.h"
#include "ui/wx/dlg_layout.h"
#include "ui/wx/orvane_dlg.h"

namespace orvane::ui {

namespace {

constexpr size_t kMaxPickedFolder = 259;  // characters of a folder taken from the picker

wxString Text(int id) {
    return wxString::FromUTF8(LoadText(id));
}

// The caption of the window's own boxes: the program file's name (the orvane command's, not
// the real program's it runs).
wxString ApplicationName() {
    return wxFileName(wxString::FromUTF8(platform::ExecutablePath())).GetName();
}

}  // namespace

void COrvaneDlg::OnBnClickedBtnBeginUpgrade(wxCommandEvent&) {
    if (m_state == ServiceState::kStopped) {
        BeginStart();
    } else if (m_state == ServiceState::kRunning) {
        BeginStop();
    }
    // Starting or stopping: the button is disabled until that has settled.
}

// What the controls hold when Start is pressed.
StartSettings COrvaneDlg::ReadStartSettings() {
    const std::string folder = m_comboFolder->GetValue().utf8_string();
    const int selected = m_comboFolder->GetSelection();
    if (selected >= 0 && selected < static_cast<int>(m_folders.Entries().size()) &&
        m_folders.Entries()[static_cast<size_t>(selected)] == folder) {
        m_folders.Select(selected);
    } else {
        m_folders.SetText(folder);
    }
    StartSettings settings;
    settings.szLocalIP = m_comboLocalIp->GetValue().utf8_string();
    settings.szUpgradeFolder = folder;
    settings.bForcedUpgrade = m_checkForced->GetValue();
    settings.bIpCheck = m_checkIpOccupancy->GetValue();
    settings.bShowAllDevices = m_checkShowAll->GetValue();
    settings.bTftpWrite = m_bTftpWrite;
    settings.iTftpMaxTransfers = m_iTftpMaxTransfers;
    settings.iTftpMaxWindow = m_iTftpMaxWindow;
    // The batch dialog saves to Config.ini; Start takes what is saved there now.
    settings.batch = ReadBatchOptions(m_hooks.startup.iniPath);
    return settings;
}

// Start's checks (the reachability check may take seconds) and the engine's start run off the
// user-interface thread; the controls are disabled meanwhile and set by the outcome.
void COrvaneDlg::BeginStart() {
    StartSettings settings = ReadStartSettings();
    auto folders = std::make_shared<FolderHistory>(m_folders);
    settings.pFolderBox = folders.get();
    auto result = std::make_shared<StartResult>();
    m_state = ServiceState::kStarting;
    m_btnBeginUpgrade->Disable();
    EnableSettingControls(false);
    m_serviceTask.Run([this, settings, result] { *result = m_control.Start(settings); },
                      [this, folders, result] { FinishStart(*result, *folders); });
}

void COrvaneDlg::FinishStart(const StartResult& result, const FolderHistory& folders) {
    // Only a Start that checked the update service again outdates the start-up check's answer
    // (one still on its way is then dropped); a Start refused before its check leaves it be.
    if (result.bCloudChecked) {
        ++m_iCloudCheck;
        ShowNetworkState(result.bNetConnected);
    } else if (m_optPendingCloudCheck) {
        m_engine.SetNetConnected(*m_optPendingCloudCheck);
        ShowNetworkState(*m_optPendingCloudCheck);
    }
    m_optPendingCloudCheck.reset();
    if (!result.bStarted) {
        m_state = ServiceState::kStopped;
        EnableSettingControls(true);
        m_btnBeginUpgrade->Enable();
        if (result.eRefusal == StartRefusal::kBadScope) {
            ShowBatchNote(result.szMessage, true);
        }
        ShowStartRefusal(result);
    } else {
        m_state = ServiceState::kRunning;
        // Saving may have dropped the oldest of more than ten folders.
        m_folders = folders;
        FillFolderBox();
        EnableSettingControls(false);
        m_btnPauseTest->SetLabel(Text(kTextSuspendUpgrade));
        m_btnPauseTest->Show();
        m_btnBeginUpgrade->SetLabel(Text(kTextStopUpgrade));
        m_btnBeginUpgrade->Enable();
        RefreshDevices(-1);
        m_szSignedListNote = wxString::FromUTF8(SignedListNote(m_engine.SignedListCount()));
        ShowBatchNote(m_engine.BatchNote(), m_engine.Batch().Status().bHalted);
    }
    if (m_bCloseAfterStart) {
        m_bCloseAfterStart = false;
        Close();
    }
}

void COrvaneDlg::ShowStartRefusal(const StartResult& result) {
    const wxString text = wxString::FromUTF8(StartRefusalText(result));
    if (result.eRefusal == StartRefusal::kNoFolder) {
        // A plain box: no owner, no icon, the same caption in both languages.
        wxMessageDialog box(nullptr, text, "Error", wxOK | wxICON_NONE);
        box.ShowModal();
        return;
    }
    wxMessageDialog box(this, text, ApplicationName(), wxOK | wxICON_WARNING);
    box.ShowModal();
}

// Stop waits up to 41 s for the service's threads: that wait runs off the user-interface
// thread, so the window keeps painting. Start/Stop stays disabled until the wait is over;
// then the steps that touch controls run.
void COrvaneDlg::BeginStop() {
    m_state = ServiceState::kStopping;
    m_btnBeginUpgrade->Disable();
    m_serviceTask.Run(
        [this] {
            if (m_hooks.beforeStopWaits) {
                m_hooks.beforeStopWaits();
            }
            m_control.Stop();
        },
        [this] { FinishStop(); });
}

void COrvaneDlg::FinishStop() {
    m_szSignedListNote.clear();
    ShowNote();
    m_state = ServiceState::kStopped;
    m_btnBeginUpgrade->SetLabel(Text(kTextStartUpgrade));
    EnableSettingControls(true);
    m_btnPauseTest->Hide();
    m_btnBeginUpgrade->Enable();
    // A halt stays in view until the next Start.
    if (!m_engine.Batch().Status().bHalted) {
        ShowSavedBatchNote();
    }
    if (m_bCloseAfterStop) {
        m_engine.Devices().ClearDeviceList();
        CloseWindow();
    }
}

void COrvaneDlg::OnBnClickedBtnPauseTest(wxCommandEvent&) {
    const bool paused = !m_engine.IsPaused();
    m_engine.SetPause(paused);
    m_btnPauseTest->SetLabel(Text(paused ? kTextContinueUpgrade : kTextSuspendUpgrade));
}

void COrvaneDlg::OnBnClickedBtnBrowse(wxCommandEvent&) {
    std::string chosen;
    if (!m_hooks.pickFolder(m_comboFolder->GetValue().utf8_string(), &chosen)) {
        return;
    }
    wxString path = wxString::FromUTF8(chosen);
    if (path.length() > kMaxPickedFolder) {
        path.Truncate(kMaxPickedFolder);
    }
    m_folders.Browse(path.utf8_string());
    FillFolderBox();
}

// Rows and counters go; the device records stay.
void COrvaneDlg::OnBnClickedBtnClearList(wxCommandEvent&) {
    m_engine.Devices().ClearList();
    RefreshDevices(-1);
}

void COrvaneDlg::OnBnClickedCheckIpOccupancy(wxCommandEvent& event) {
    if (event.IsChecked()) {
        wxMessageDialog box(nullptr, Text(kTextIpCheckNotice), Text(kTextTips),
                            wxOK | wxICON_INFORMATION);
        box.ShowModal();
    }
}

// The choice is saved at once and takes effect at the next start.
void COrvaneDlg::OnCbnSelchangeComboLanguage(wxCommandEvent&) {
    const int selected = m_comboLanguage->GetSelection();
    WriteProfileValues(m_hooks.startup.iniPath, kConfigSection,
                       {{"AppLanguage", std::to_string(selected)}});
    wxMessageDialog box(nullptr, Text(kTextLanguageRestart), Text(kTextTips),
                        wxYES_NO | wxICON_NONE);
    box.SetYesNoLabels(Text(kTextOk), Text(kTextRestartNow));
    if (box.ShowModal() == wxID_NO) {
        m_hooks.restart();
    }
}

// Closing while the service runs asks first, then stops it, clears the table and closes.
void COrvaneDlg::OnClose(wxCloseEvent& event) {
    if (!event.CanVeto()) {
        // The session is ending: no question; a Start or Stop under way is finished first,
        // and a running service is stopped here.
        m_serviceTask.Wait();
        if (m_engine.IsRunning()) {
            m_control.Stop();
        }
        CloseWindow();
        return;
    }
    switch (m_state) {
        case ServiceState::kStopped:
            CloseWindow();
            return;
        case ServiceState::kStarting:
            // Asked again once the Start has settled, as a close while running or stopped.
            m_bCloseAfterStart = true;
            break;
        case ServiceState::kStopping:
            m_bCloseAfterStop = true;
            break;
        case ServiceState::kRunning: {
            wxMessageDialog box(this, Text(kTextExitWhileRunning), ApplicationName(),
                                wxOK | wxCANCEL | wxICON_WARNING);
            if (box.ShowModal() == wxID_OK) {
                m_bCloseAfterStop = true;
                BeginStop();
            }
            break;
        }
    }
    event.Veto();
}

void COrvaneDlg::CloseWindow() {
    m_bClosed = true;
    if (IsModal()) {
        EndModal(wxID_CANCEL);
    } else {
        Hide();
    }
}

}  // namespace orvane::ui
