#include "ui/wx/device_list_ctrl.h"

#include "support/display_text.h"
#include "support/language.h"
#include "ui/wx/dlg_layout.h"

namespace orvane::ui {

DeviceListCtrl::DeviceListCtrl(wxWindow* parent, wxWindowID id, const wxPoint& pos,
                               const wxSize& size, const DeviceTable& model)
    : wxListCtrl(parent, id, pos, size,
                 wxLC_REPORT | wxLC_VIRTUAL | wxLC_HRULES | wxLC_VRULES | wxBORDER_SUNKEN),
      m_model(model) {}

void DeviceListCtrl::InsertDeviceColumns(bool chinese) {
    for (int column = 0; column < kDeviceColumns; ++column) {
        InsertColumn(column, wxString::FromUTF8(LoadText(kDeviceColumnTexts[column])),
                     wxLIST_FORMAT_LEFT, DeviceColumnWidth(column, chinese));
    }
}

void DeviceListCtrl::SyncWithModel(int addedRow) {
    m_lCachedItem = -1;
    const long count = m_model.RowCount();
    if (count != GetItemCount()) {
        SetItemCount(count);
    }
    if (count > 0) {
        RefreshItems(0, count - 1);
    } else {
        Refresh();
    }
    if (addedRow >= 0 && addedRow < count) {
        EnsureVisible(addedRow);
    }
}

wxString DeviceListCtrl::OnGetItemText(long item, long column) const {
    if (column < 0 || column >= kDeviceColumns) {
        return wxString();
    }
    if (item != m_lCachedItem) {
        m_cachedRow = m_model.Row(static_cast<int>(item));
        m_lCachedItem = item;
    }
    // A device's own texts are shown as the terminal shows them: no hidden formatting.
    return wxString::FromUTF8(SafeDisplayText(m_cachedRow[static_cast<size_t>(column)]));
}

}  // namespace orvane::ui
