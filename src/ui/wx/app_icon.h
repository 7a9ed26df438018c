#pragma once

#include <wx/bitmap.h>
#include <wx/iconbndl.h>

namespace orvane::ui {

// The program's icon (32 x 32), for the window frames and the About box.
wxIconBundle AppIconBundle();
wxBitmap AppIconBitmap();

}  // namespace orvane::ui
