#pragma once

#include <wx/font.h>
#include <wx/gdicmn.h>
#include <wx/string.h>

#include "ui/wx/dlg_layout.h"

class wxWindow;
class wxStaticText;

// Placing controls at dialog-unit rectangles. Dialog units follow the dialog's font, so the
// font is set on the dialog before the first control is placed.
namespace orvane::ui {

// The layouts' font: SimSun 9 pt for the Chinese layout, Arial 9 pt for the English one
// (fontconfig substitutes: "Arial" resolves to Liberation Sans, and the alias this program
// installs maps "SimSun" to AR PL UMing CN).
wxFont DialogFont(bool chinese);

wxPoint DluPoint(wxWindow* dialog, int x, int y);
wxSize DluSize(wxWindow* dialog, int w, int h);
wxRect DluToPixels(wxWindow* dialog, const DluRect& rect);

// A left-aligned text that keeps its rectangle; one of two lines or more wraps its words at
// the rectangle's width. What does not fit is cut, as in a fixed dialog layout.
wxStaticText* PlaceStaticText(wxWindow* dialog, int id, const wxString& text, const DluRect& rect);

}  // namespace orvane::ui
