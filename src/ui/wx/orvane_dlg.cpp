#include "ui/wx/orvane_dlg.h"

#include <algorithm>

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/combobox.h>
#include <wx/dirdlg.h>
#include <wx/filedlg.h>
#include <wx/hyperlink.h>
#include <wx/menu.h>
#include <wx/msgdlg.h>
#include <wx/stattext.h>
#ifdef __WXMSW__
#include <wx/msw/wrapwin.h>
#endif

#include "app/app_startup.h"
#include "app/product_version.h"
#include "cloud/cloud_query.h"
#include "platform/file.h"
#include "record/device_list_csv.h"
#include "support/language.h"
#include "support/text_ids.h"
#include "ui/wx/about_dlg.h"
#include "ui/wx/app_icon.h"
#include "ui/wx/batch_dlg.h"
#include "ui/wx/device_list_ctrl.h"
#include "ui/wx/dialog_units.h"
#include "ui/wx/program_restart.h"

namespace orvane::ui {

namespace {

// GTK draws a check box's indicator no smaller than its theme says and further from its
// text, and its fonts are not the layouts' own: a check box or one-line text that needs more
// room than its rectangle grows about its centre line, and sideways into the free stretch of
// its line (first to the right, then to the left), rather than be squeezed or cut short.
void FitToFreeLine(wxWindow* control, const wxRect& rect, int freeLeft, int freeRight) {
    const wxSize best = control->GetBestSize();
    wxRect fitted = rect;
    if (best.y > rect.height) {
        fitted.y -= (best.y - rect.height) / 2;
        fitted.height = best.y;
    }
    if (best.x > rect.width) {
        const int left = std::min(freeLeft, rect.x);
        const int right = std::max(freeRight, rect.x + rect.width);
        fitted.width = std::min(best.x, right - left);
        fitted.x = std::max(left, std::min(rect.x, right - fitted.width));
    }
    control->SetSize(fitted);
}

bool PickFolderWithDialog(const std::string& preset, std::string* chosen) {
    wxDirDialog picker(nullptr, wxEmptyString, wxString::FromUTF8(preset));
    if (picker.ShowModal() != wxID_OK) {
        return false;
    }
    *chosen = picker.GetPath().utf8_string();
    return true;
}

wxString Text(int id) {
    return wxString::FromUTF8(LoadText(id));
}

}  // namespace

WindowHooks::WindowHooks()
    : pickFolder(PickFolderWithDialog),
      restart(RestartProgram),
      adapterLister(platform::ListNetInterfaces) {}

// Construction: the window in its language's layout with every control in place; nothing
// is read or started until Initialise.
COrvaneDlg::COrvaneDlg(WindowHooks hooks)
    : m_hooks(std::move(hooks)),
      m_bChinese(GetThreadUiLanguage() == kLanguageChinese),
      m_poster(this),
      m_view(m_poster,
             WindowViewActions{[this](int row) { RefreshDevices(row); }, [this] { RaiseWindow(); },
                               [this](int id) { ShowErrorBox(id); },
                               [this](const std::string& note) { ShowBatchNote(note, true); }}),
      m_engine(m_view),
      m_control(m_engine, m_view, m_hooks.startup.iniPath, m_hooks.adapterLister),
      m_serviceTask(m_poster),
      m_cloudTask(m_poster) {
    Create(nullptr, wxID_ANY, "Orvane", wxDefaultPosition, wxDefaultSize,
           wxCAPTION | wxSYSTEM_MENU | wxMINIMIZE_BOX | wxCLOSE_BOX);
    SetFont(DialogFont(m_bChinese));
    const DluRect size = MainWindowSize(m_bChinese);
    SetClientSize(DluSize(this, size.w, size.h));
    CreateControls();
    BindEvents();
    m_control.Record().SetOnWriteFailing([this](bool failing) {
        m_poster.Post([this, failing] {
            m_bRecordFailing = failing;
            ShowNote();
        });
    });
}

COrvaneDlg::~COrvaneDlg() {
    m_poster.Detach();
    // The list reads the engine's model, which goes before the window's own children would.
    DestroyChildren();
}

void COrvaneDlg::CreateControls() {
    for (const ControlLayout& c : MainWindowControls()) {
        CreateControl(c);
    }
    // The controls the window works with, by their ids.
    m_comboLocalIp = wxStaticCast(FindWindow(IDC_COMBO_LOCAL_IP), wxComboBox);
    m_comboFolder = wxStaticCast(FindWindow(IDC_COMBO_UPGRADE_FOLDER), wxComboBox);
    m_comboLanguage = wxStaticCast(FindWindow(IDC_COMBO_LANGUAGE), wxComboBox);
    m_checkForced = wxStaticCast(FindWindow(IDC_CHECK_FORCED_UPGRADE), wxCheckBox);
    m_checkIpOccupancy = wxStaticCast(FindWindow(IDC_CHECK_IP_OCCUPANCY), wxCheckBox);
    m_checkShowAll = wxStaticCast(FindWindow(IDC_CHECK_SHOW_ALL), wxCheckBox);
    m_btnBeginUpgrade = wxStaticCast(FindWindow(IDC_BTN_BEGIN_UPGRADE), wxButton);
    m_btnPauseTest = wxStaticCast(FindWindow(IDC_BTN_PAUSE_TEST), wxButton);
    m_btnBrowse = wxStaticCast(FindWindow(IDC_BTN_BROWSE), wxButton);
    m_staticSuccessCount = wxStaticCast(FindWindow(IDC_STATIC_SUCCESS_COUNT), wxStaticText);
    m_staticFailCount = wxStaticCast(FindWindow(IDC_STATIC_FAIL_COUNT), wxStaticText);
    m_staticNetFailed = wxStaticCast(FindWindow(IDC_STATIC_NET_FAILED), wxStaticText);
    m_szNetFailedText = m_staticNetFailed->GetLabel();
}

// One control of the layout at its rectangle, in this window's language.
void COrvaneDlg::CreateControl(const ControlLayout& c) {
    const char* text = m_bChinese ? c.chineseText : c.englishText;
    if (c.kind == ControlKind::kStatic && !text) {
        return;  // a text of the other layout only
    }
    const DluRect& rect = m_bChinese ? c.chinese : c.english;
    const wxRect px = DluToPixels(this, rect);
    const int id = c.id ? c.id : wxID_ANY;
    const wxString label = text ? wxString::FromUTF8(text) : wxString();
    const FreeSpan span = FreeLineSpan(c, m_bChinese);
    const int freeLeft = DluPoint(this, span.left, 0).x;
    const int freeRight = DluPoint(this, span.right, 0).x;
    // A combo box's rectangle includes its drop-down; the box itself is one line high.
    const wxSize comboSize(px.width, DluSize(this, 0, 12).y);
    switch (c.kind) {
        case ControlKind::kStatic: {
            wxStaticText* staticText = PlaceStaticText(this, id, label, rect);
            if (id == IDC_STATIC_NET_FAILED) {
                // The network-failure note stands out: red, and bold in the window's font.
                staticText->SetForegroundColour(wxColour(255, 0, 0));
                staticText->SetFont(GetFont().Bold());
            }
            if (px.height < 2 * staticText->GetCharHeight()) {
                FitToFreeLine(staticText, px, freeLeft, freeRight);
            }
            break;
        }
        case ControlKind::kEditCombo:
            new wxComboBox(this, id, wxEmptyString, px.GetPosition(), comboSize, 0, nullptr,
                           wxCB_DROPDOWN);
            break;
        case ControlKind::kListCombo:
            new wxComboBox(this, id, wxEmptyString, px.GetPosition(), comboSize, 0, nullptr,
                           wxCB_READONLY);
            break;
        case ControlKind::kButton:
            new wxButton(this, id, label, px.GetPosition(), px.GetSize());
            break;
        case ControlKind::kCheckBox:
            FitToFreeLine(new wxCheckBox(this, id, label, px.GetPosition()), px, freeLeft,
                          freeRight);
            break;
        case ControlKind::kDeviceList:
            m_listDevice =
                new DeviceListCtrl(this, id, px.GetPosition(), px.GetSize(), m_engine.Devices());
            break;
        case ControlKind::kHyperlink:
            // The generic control draws its text itself: it keeps its rectangle and, unlike
            // GTK's link button, shows no tool tip.
            (new wxGenericHyperlinkCtrl(this, id, label, kFirmwarePageUrl, px.GetPosition(),
                                        px.GetSize(), wxHL_ALIGN_LEFT | wxNO_BORDER))
                ->UnsetToolTip();
            break;
    }
}

void COrvaneDlg::BindEvents() {
    Bind(wxEVT_BUTTON, &COrvaneDlg::OnBnClickedBtnBeginUpgrade, this, IDC_BTN_BEGIN_UPGRADE);
    Bind(wxEVT_BUTTON, &COrvaneDlg::OnBnClickedBtnPauseTest, this, IDC_BTN_PAUSE_TEST);
    Bind(wxEVT_BUTTON, &COrvaneDlg::OnBnClickedBtnBrowse, this, IDC_BTN_BROWSE);
    Bind(wxEVT_BUTTON, &COrvaneDlg::OnBnClickedBtnClearList, this, IDC_BTN_CLEAR_LIST);
    Bind(wxEVT_CHECKBOX, &COrvaneDlg::OnBnClickedCheckIpOccupancy, this, IDC_CHECK_IP_OCCUPANCY);
    Bind(wxEVT_COMBOBOX, &COrvaneDlg::OnCbnSelchangeComboLanguage, this, IDC_COMBO_LANGUAGE);
    Bind(wxEVT_CLOSE_WINDOW, &COrvaneDlg::OnClose, this);
    // The About item is in the system menu on Windows (AddAboutToSystemMenu); GTK windows have
    // none, so there it is in the window's context menu instead, and on F1.
    Bind(wxEVT_CONTEXT_MENU, &COrvaneDlg::OnContextMenu, this);
    Bind(
        wxEVT_MENU, [this](wxCommandEvent&) { ShowAboutBox(); }, IDM_ABOUT);
    Bind(
        wxEVT_MENU, [this](wxCommandEvent&) { SaveListAsCsv(); }, IDM_SAVE_CSV);
    Bind(
        wxEVT_MENU, [this](wxCommandEvent&) { ShowBatchSettings(); }, IDM_BATCH_SETTINGS);
    Bind(wxEVT_CHAR_HOOK, &COrvaneDlg::OnCharHook, this);
}

// The initialisation sequence, in its order.
bool COrvaneDlg::Initialise() {
    SetIcons(AppIconBundle());
    WindowSettings settings;
    if (!RunStartup(m_hooks.startup, &settings)) {
        wxMessageBox(Text(kTextAlreadyRunning), wxMessageBoxCaptionStr, wxOK | wxICON_INFORMATION,
                     nullptr);
        return false;
    }

    // The failure count stays hidden for the life of the window; Pause shows while running.
    FindWindow(IDC_STATIC_FAIL)->Hide();
    m_staticFailCount->Hide();
    m_btnPauseTest->Hide();

    // Position = AppLanguage value; the same three texts in both languages.
    for (const char* entry : {"自动(Auto)", "中文", "English"}) {
        m_comboLanguage->Append(wxString::FromUTF8(entry));
    }

    // The folder box and the check boxes as Config.ini has them.
    m_folders = settings.folders;
    m_bTftpWrite = settings.bTftpWrite;
    m_iTftpMaxTransfers = settings.iTftpMaxTransfers;
    m_iTftpMaxWindow = settings.iTftpMaxWindow;
    FillFolderBox();
    m_checkForced->SetValue(settings.bForcedUpgrade);
    m_checkShowAll->SetValue(settings.bShowAllDevices);
    m_checkIpOccupancy->SetValue(settings.bIpCheck);
    if (settings.iLanguageSelection >= 0 && settings.iLanguageSelection <= 2) {
        m_comboLanguage->SetSelection(settings.iLanguageSelection);
    }

    SetTitle("Orvane_V" + GetProductVersionText());
#ifdef __WXMSW__
    AddAboutToSystemMenu();
#endif

    char addresses[kMaxLocalIps][kIpTextSize] = {};
    const int count = GetLocalIpList(addresses, m_hooks.adapterLister);
    for (int i = 0; i < count && addresses[i][0]; ++i) {
        m_comboLocalIp->Append(wxString::FromUTF8(addresses[i]));
    }
    if (count > 0) {
        m_comboLocalIp->SetSelection(0);
    }

    m_listDevice->InsertDeviceColumns(m_bChinese);

    StartCloudCheck();
    ShowSavedBatchNote();
    Centre();
    m_comboLocalIp->SetFocus();
    return true;
}

// The folder box shows m_folders: its entries, and the selected one or the typed text.
void COrvaneDlg::FillFolderBox() {
    wxArrayString entries;
    for (const std::string& folder : m_folders.Entries()) {
        entries.Add(wxString::FromUTF8(folder));
    }
    if (entries != m_comboFolder->GetStrings()) {
        m_comboFolder->Set(entries);
    }
    if (m_folders.SelectedIndex() >= 0) {
        m_comboFolder->SetSelection(m_folders.SelectedIndex());
    } else {
        m_comboFolder->SetValue(wxString::FromUTF8(m_folders.Text()));
    }
}

// The reachability check runs beside the window, which shows at once; until it answers the
// note stays hidden, since nothing has failed yet.
void COrvaneDlg::StartCloudCheck() {
    m_bNetConnected = true;
    ShowNote();
    const int check = ++m_iCloudCheck;
    auto reachable = std::make_shared<bool>(false);
    m_cloudTask.Run([reachable] { *reachable = IsCloudReachable(); },
                    [this, check, reachable] {
                        if (check != m_iCloudCheck) {
                            return;  // a Start has checked again since
                        }
                        if (m_state == ServiceState::kStarting) {
                            // That Start may be checking again: it decides (FinishStart).
                            m_optPendingCloudCheck = *reachable;
                            return;
                        }
                        m_engine.SetNetConnected(*reachable);
                        ShowNetworkState(*reachable);
                    });
}

void COrvaneDlg::ShowNetworkState(bool connected) {
    m_bNetConnected = connected;
    ShowNote();
}

// One line for several notes, the most urgent shown: a halted run or batch files that cannot
// be used; a failed network check; a record that cannot be written (all three red); else
// what the batch settings hold and the signed list's count, which the operator must see
// while they are in force.
void COrvaneDlg::ShowNote() {
    wxString text;
    bool alarm = true;
    if (m_bBatchAlarm && !m_szBatchNote.empty()) {
        text = m_szBatchNote;
    } else if (!m_bNetConnected) {
        text = m_szNetFailedText;
    } else if (m_bRecordFailing) {
        text = wxString::FromUTF8(m_bChinese
                                      ? "升级记录无法写入：结果已保留，可写入时补写"
                                      : "The upgrade record cannot be written: outcomes are kept");
    } else {
        alarm = false;
        text = m_szBatchNote;
        if (!m_szSignedListNote.empty()) {
            text = text.empty() ? m_szSignedListNote : text + wxT("; ") + m_szSignedListNote;
        }
    }
    m_staticNetFailed->SetForegroundColour(alarm ? wxColour(255, 0, 0) : GetForegroundColour());
    SetStaticText(m_staticNetFailed, text);
    m_staticNetFailed->Show(!text.empty());
    m_staticNetFailed->Refresh();
}

void COrvaneDlg::ShowBatchNote(const std::string& note, bool alarm) {
    m_szBatchNote = wxString::FromUTF8(note);
    m_bBatchAlarm = alarm;
    ShowNote();
}

// What the next Start will take, as the note line tells it; files that cannot be used are
// told at once rather than only when Start refuses them.
void COrvaneDlg::ShowSavedBatchNote() {
    BatchSettings settings;
    std::string error;
    if (!LoadBatchSettings(ReadBatchOptions(m_hooks.startup.iniPath), &settings, &error)) {
        ShowBatchNote(error, true);
        return;
    }
    ShowBatchNote(BatchNoteText(settings, BatchStatus(), m_bChinese), false);
}

void COrvaneDlg::ShowBatchSettings() {
    const std::string& iniPath = m_hooks.startup.iniPath;
    CBatchDlg dialog(this, ReadBatchOptions(iniPath), m_bChinese);
    if (dialog.ShowModal() != wxID_OK) {
        return;
    }
    if (!SaveBatchOptions(iniPath, dialog.Options())) {
        wxMessageBox(wxString::FromUTF8((m_bChinese ? "无法写入 " : "Cannot write ") + iniPath),
                     "Orvane", wxOK | wxICON_ERROR, this);
    }
    ShowSavedBatchNote();
}

void COrvaneDlg::OnContextMenu(wxContextMenuEvent& event) {
    wxMenu menu;
#ifndef __WXMSW__
    menu.Append(IDM_ABOUT, Text(kTextAbout));
#endif
    const bool chinese = g_iLanguage == kLanguageChinese;
    menu.Append(IDM_SAVE_CSV,
                wxString::FromUTF8(chinese ? "将列表另存为 CSV…" : "Save list as CSV…"));
    menu.Append(IDM_BATCH_SETTINGS,
                wxString::FromUTF8(chinese ? "批量设置…" : "Batch settings..."));
    // The run's settings, like the window's own, change only while it is stopped.
    menu.Enable(IDM_BATCH_SETTINGS, m_state == ServiceState::kStopped);
    wxPoint at = event.GetPosition();
    PopupMenu(&menu, at == wxDefaultPosition ? wxDefaultPosition : ScreenToClient(at));
}

// F1: the About box. Escape: a close request like the window's close button, so it asks
// first while the service runs.
void COrvaneDlg::OnCharHook(wxKeyEvent& event) {
    if (event.HasAnyModifiers()) {
        event.Skip();
#ifndef __WXMSW__
    } else if (event.GetKeyCode() == WXK_F1) {
        ShowAboutBox();
#endif
    } else if (event.GetKeyCode() == WXK_ESCAPE) {
        Close();
    } else {
        event.Skip();
    }
}

#ifdef __WXMSW__
// A separator and the About item at the end of the window's system menu.
void COrvaneDlg::AddAboutToSystemMenu() {
    HMENU menu = ::GetSystemMenu(GetHWND(), FALSE);
    if (menu != nullptr) {
        ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
        ::AppendMenuW(menu, MF_STRING, IDM_ABOUT, Text(kTextAbout).wc_str());
    }
}

// The system menu's commands come as WM_SYSCOMMAND, their low four bits the system's own.
WXLRESULT COrvaneDlg::MSWWindowProc(WXUINT message, WXWPARAM wParam, WXLPARAM lParam) {
    if (message == WM_SYSCOMMAND && (wParam & 0xFFF0) == IDM_ABOUT) {
        ShowAboutBox();
        return 0;
    }
    return wxDialog::MSWWindowProc(message, wParam, lParam);
}
#endif

void COrvaneDlg::ShowAboutBox() {
    CAboutDlg about(this);
    about.ShowModal();
}

// The rows as the list shows them, in the upgrade record's columns, to a file the operator
// names.
void COrvaneDlg::SaveListAsCsv() {
    const bool chinese = g_iLanguage == kLanguageChinese;
    wxFileDialog dialog(this, wxString::FromUTF8(chinese ? "将列表另存为 CSV" : "Save list as CSV"),
                        wxEmptyString, "devices.csv", "CSV (*.csv)|*.csv",
                        wxFD_SAVE | wxFD_OVERWRITE_PROMPT);
    if (dialog.ShowModal() != wxID_OK) {
        return;
    }
    const std::string path = dialog.GetPath().utf8_string();
    if (!SaveDeviceListCsv(path, m_engine.Devices(), m_control.Record())) {
        wxMessageBox(wxString::FromUTF8((chinese ? "无法写入 " : "Cannot write ") + path), "Orvane",
                     wxOK | wxICON_ERROR, this);
    }
}

// Restores, activates and raises the window (a device failed).
void COrvaneDlg::RaiseWindow() {
    if (IsIconized()) {
        Iconize(false);
    }
    Raise();
}

void COrvaneDlg::ShowErrorBox(int textId) {
    wxMessageDialog box(this, Text(textId), "Error", wxOK | wxICON_NONE);
    box.ShowModal();
}

void COrvaneDlg::RefreshDevices(int addedRow) {
    m_listDevice->SyncWithModel(addedRow);
    const DeviceTable& table = m_engine.Devices();
    SetStaticText(m_staticSuccessCount, wxString::Format("%d", table.SuccessCount()));
    SetStaticText(m_staticFailCount, wxString::Format("%d", table.FailCount()));
}

// Unchanged texts are left alone, so a burst of updates repaints nothing needlessly.
void COrvaneDlg::SetStaticText(wxStaticText* label, const wxString& text) {
    if (label->GetLabel() != text) {
        label->SetLabel(text);
    }
}

// The seven setting controls, in their order.
void COrvaneDlg::EnableSettingControls(bool enable) {
    for (wxWindow* control :
         {static_cast<wxWindow*>(m_checkForced), static_cast<wxWindow*>(m_checkShowAll),
          static_cast<wxWindow*>(m_checkIpOccupancy), static_cast<wxWindow*>(m_comboLocalIp),
          static_cast<wxWindow*>(m_comboFolder), static_cast<wxWindow*>(m_comboLanguage),
          static_cast<wxWindow*>(m_btnBrowse)}) {
        control->Enable(enable);
    }
}

}  // namespace orvane::ui
