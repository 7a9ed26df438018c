#pragma once

#include <wx/dialog.h>

namespace orvane::ui {

// The About box. It exists in one (Chinese) layout, shown in both languages.
class CAboutDlg : public wxDialog {
  public:
    explicit CAboutDlg(wxWindow* parent);
};

}  // namespace orvane::ui
