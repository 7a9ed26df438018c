#include "ui/wx/app_icon.h"

#include <wx/icon.h>

#include "ui/wx/orvane_icon.xpm"

namespace orvane::ui {

wxIconBundle AppIconBundle() {
    return wxIconBundle(wxIcon(orvane_icon_xpm));
}

wxBitmap AppIconBitmap() {
    return wxBitmap(orvane_icon_xpm);
}

}  // namespace orvane::ui
