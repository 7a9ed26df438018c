#include "ui/wx/dialog_units.h"

#include <wx/stattext.h>
#include <wx/window.h>

namespace orvane::ui {

wxFont DialogFont(bool chinese) {
    return wxFont(wxFontInfo(9).FaceName(chinese ? "SimSun" : "Arial"));
}

wxPoint DluPoint(wxWindow* dialog, int x, int y) {
    return dialog->ConvertDialogToPixels(wxPoint(x, y));
}

wxSize DluSize(wxWindow* dialog, int w, int h) {
    return dialog->ConvertDialogToPixels(wxSize(w, h));
}

// Each edge is converted on its own, as a dialog template's rectangles are, so two controls
// whose edges meet in dialog units meet in pixels too.
wxRect DluToPixels(wxWindow* dialog, const DluRect& rect) {
    const wxPoint topLeft = DluPoint(dialog, rect.x, rect.y);
    const wxPoint bottomRight = DluPoint(dialog, rect.x + rect.w, rect.y + rect.h);
    return wxRect(topLeft, wxSize(bottomRight.x - topLeft.x, bottomRight.y - topLeft.y));
}

wxStaticText* PlaceStaticText(wxWindow* dialog, int id, const wxString& text, const DluRect& rect) {
    const wxRect px = DluToPixels(dialog, rect);
    auto* label = new wxStaticText(dialog, id, text, px.GetPosition(), px.GetSize(),
                                   wxST_NO_AUTORESIZE | wxALIGN_LEFT);
    // A one-line rectangle cuts its text at the right edge; wrapping would move the rest to a
    // line nobody sees.
    if (px.GetHeight() >= 2 * label->GetCharHeight()) {
        label->Wrap(px.GetWidth());
    }
    return label;
}

}  // namespace orvane::ui
