#pragma once

#include <wx/listctrl.h>

#include "protocol/device_table.h"

namespace orvane::ui {

// The device list: a virtual report list that asks the engine's model for each cell it
// paints, so rows are numbered and kept in one place (the model) and never copied here.
class DeviceListCtrl : public wxListCtrl {
  public:
    DeviceListCtrl(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size,
                   const DeviceTable& model);

    // The seven columns with their headers in the calling thread's language and their widths
    // for `chinese` or English.
    void InsertDeviceColumns(bool chinese);

    // Follows the model: its row count, the texts of the rows on screen, and `addedRow` (-1
    // for none) scrolled into view. Only rows on screen are repainted.
    void SyncWithModel(int addedRow);

  protected:
    wxString OnGetItemText(long item, long column) const override;

  private:
    const DeviceTable& m_model;
    // One row at a time is asked for column by column: read it from the model once.
    mutable long m_lCachedItem = -1;
    mutable DeviceRow m_cachedRow;
};

}  // namespace orvane::ui
