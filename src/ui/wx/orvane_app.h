#pragma once

#include <wx/app.h>

namespace orvane::ui {

// The application object: shows the main window modally; the process ends when it closes.
class COrvaneApp : public wxApp {
  public:
    bool OnInit() override;
    int OnRun() override;
};

}  // namespace orvane::ui
