#pragma once

#include <wx/dialog.h>

#include "app/batch_files.h"

class wxSpinCtrl;
class wxTextCtrl;

namespace orvane::ui {

// "Batch settings...": which devices a run takes, how many at once, the first group, when to
// halt, and a record to retry the failed of. It edits a copy; the window saves it on OK.
class CBatchDlg : public wxDialog {
  public:
    enum : int {
        IDC_EDIT_SCOPE_FILE = 1101,
        IDC_BTN_SCOPE_FILE,
        IDC_EDIT_RETRY_FILE,
        IDC_BTN_RETRY_FILE,
        IDC_SPIN_AT_ONCE,
        IDC_SPIN_FIRST_GROUP,
        IDC_SPIN_HALT_AFTER,
    };

    CBatchDlg(wxWindow* parent, const BatchOptions& options, bool chinese);
    // The fields as they stand; what the dialog does not show is as it was given.
    BatchOptions Options() const;

  private:
    void BrowseInto(wxTextCtrl* edit, const wxString& wildcard);

    BatchOptions m_options;
    const bool m_bChinese;
    wxTextCtrl* m_editScope = nullptr;
    wxTextCtrl* m_editRetry = nullptr;
    wxSpinCtrl* m_spinAtOnce = nullptr;
    wxSpinCtrl* m_spinFirst = nullptr;
    wxSpinCtrl* m_spinHalt = nullptr;
};

}  // namespace orvane::ui
