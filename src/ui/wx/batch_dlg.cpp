#include "ui/wx/batch_dlg.h"

#include <algorithm>

#include <wx/button.h>
#include <wx/filedlg.h>
#include <wx/filename.h>
#include <wx/spinctrl.h>
#include <wx/textctrl.h>

#include "protocol/device_table.h"
#include "ui/wx/dialog_units.h"

namespace orvane::ui {

namespace {

constexpr int kLabelX = 7, kLabelW = 150;
constexpr int kFieldX = 160, kFieldW = 150, kBrowseW = 24;
constexpr int kRowY = 9, kRowStep = 18;

wxString Choose(bool chinese, const char* zh, const char* en) {
    return wxString::FromUTF8(chinese ? zh : en);
}

}  // namespace

CBatchDlg::CBatchDlg(wxWindow* parent, const BatchOptions& options, bool chinese)
    : wxDialog(parent, wxID_ANY, Choose(chinese, "批量设置", "Batch settings"), wxDefaultPosition,
               wxDefaultSize, wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX),
      m_options(options),
      m_bChinese(chinese) {
    // The font first: dialog units follow it.
    SetFont(DialogFont(chinese));
    SetClientSize(DluSize(this, kFieldX + kFieldW + kBrowseW + 11, kRowY + 5 * kRowStep + 22));

    const struct {
        const char* zh;
        const char* en;
    } labels[] = {
        {"升级范围文件（MAC、model:型号）：", "Scope file (MACs, model:NAME lines):"},
        {"重试此升级记录中失败的设备：", "Retry the failed devices of record:"},
        {"同时升级台数（0：不限）：", "Devices at once (0: no limit):"},
        {"首批台数（全部成功后继续）：", "First group (the rest wait for it):"},
        {"失败几台后停止（0：不停止）：", "Halt after failures (0: never):"},
    };
    for (int row = 0; row < 5; ++row) {
        PlaceStaticText(this, wxID_ANY, Choose(chinese, labels[row].zh, labels[row].en),
                        {kLabelX, kRowY + row * kRowStep + 2, kLabelW, 8});
    }
    auto fileRow = [this](int row, int editId, const std::string& path) {
        const int y = kRowY + row * kRowStep;
        auto* edit = new wxTextCtrl(this, editId, wxString::FromUTF8(path),
                                    DluPoint(this, kFieldX, y), DluSize(this, kFieldW - 2, 12));
        new wxButton(this, editId + 1, "...", DluPoint(this, kFieldX + kFieldW, y),
                     DluSize(this, kBrowseW, 12));
        return edit;
    };
    auto countRow = [this](int row, int id, int value) {
        auto* spin =
            new wxSpinCtrl(this, id, wxEmptyString, DluPoint(this, kFieldX, kRowY + row * kRowStep),
                           DluSize(this, 60, 12), wxSP_ARROW_KEYS, 0, kMaxDeviceRows, value);
        // GTK's spin buttons sit beside the number and take the room they need.
        spin->SetSize(std::max(spin->GetSize().x, spin->GetBestSize().x), -1);
        return spin;
    };
    m_editScope = fileRow(0, IDC_EDIT_SCOPE_FILE, options.szScopeFile);
    m_editRetry = fileRow(1, IDC_EDIT_RETRY_FILE, options.szRetryFile);
    m_spinAtOnce = countRow(2, IDC_SPIN_AT_ONCE, options.iMaxAtOnce);
    m_spinFirst = countRow(3, IDC_SPIN_FIRST_GROUP, options.iFirstGroup);
    m_spinHalt = countRow(4, IDC_SPIN_HALT_AFTER, options.iHaltAfter);

    const int buttonsY = kRowY + 5 * kRowStep + 2;
    const int right = kFieldX + kFieldW + kBrowseW;
    auto* ok = new wxButton(this, wxID_OK, Choose(chinese, "确定", "OK"),
                            DluPoint(this, right - 107, buttonsY), DluSize(this, 50, 14));
    new wxButton(this, wxID_CANCEL, Choose(chinese, "取消", "Cancel"),
                 DluPoint(this, right - 50, buttonsY), DluSize(this, 50, 14));
    ok->SetDefault();
    Bind(
        wxEVT_BUTTON,
        [this](wxCommandEvent&) {
            BrowseInto(m_editScope,
                       Choose(m_bChinese, "文本文件", "Text files") + " (*.txt)|*.txt|*|*");
        },
        IDC_BTN_SCOPE_FILE);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { BrowseInto(m_editRetry, "CSV (*.csv)|*.csv|*|*"); },
        IDC_BTN_RETRY_FILE);
    m_editScope->SetFocus();
    CentreOnParent();
}

void CBatchDlg::BrowseInto(wxTextCtrl* edit, const wxString& wildcard) {
    const wxFileName current(edit->GetValue());
    wxFileDialog picker(this, wxEmptyString, current.GetPath(), current.GetFullName(), wildcard,
                        wxFD_OPEN | wxFD_FILE_MUST_EXIST);
    if (picker.ShowModal() == wxID_OK) {
        edit->SetValue(picker.GetPath());
    }
}

BatchOptions CBatchDlg::Options() const {
    BatchOptions options = m_options;
    options.szScopeFile = m_editScope->GetValue().Strip(wxString::both).utf8_string();
    options.szRetryFile = m_editRetry->GetValue().Strip(wxString::both).utf8_string();
    options.iMaxAtOnce = m_spinAtOnce->GetValue();
    options.iFirstGroup = m_spinFirst->GetValue();
    options.iHaltAfter = m_spinHalt->GetValue();
    return options;
}

}  // namespace orvane::ui
