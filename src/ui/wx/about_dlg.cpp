#include "ui/wx/about_dlg.h"

#include <wx/button.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>

#include "app/product_version.h"
#include "ui/wx/app_icon.h"
#include "ui/wx/dialog_units.h"

namespace orvane::ui {

CAboutDlg::CAboutDlg(wxWindow* parent)
    : wxDialog(parent, wxID_ANY, wxString::FromUTF8("关于 Orvane"), wxDefaultPosition,
               wxDefaultSize, wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX) {
    // The font first: dialog units follow it.
    SetFont(DialogFont(true));
    SetClientSize(DluSize(this, 235, 55));

    new wxStaticBitmap(this, wxID_ANY, AppIconBitmap(), DluPoint(this, 11, 17));
    PlaceStaticText(this, wxID_ANY,
                    wxString::FromUTF8("版本：Orvane_V") + wxString(GetProductVersionText()),
                    {40, 10, 119, 8});
    PlaceStaticText(this, wxID_ANY, wxString::FromUTF8("网络摄像机及录像机固件升级工具"),
                    {40, 25, 119, 8});
    auto* ok = new wxButton(this, wxID_OK, wxString::FromUTF8("确定"), DluPoint(this, 178, 7),
                            DluSize(this, 50, 16));
    ok->SetDefault();
    ok->SetFocus();
    CentreOnParent();
}

}  // namespace orvane::ui
