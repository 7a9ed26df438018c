#include "ui/wx/orvane_app.h"

#include <wx/log.h>

#include <cstdio>

#include "ui/wx/orvane_dlg.h"
#include "ui/wx/run_window.h"

namespace orvane::ui {

// The program's own command line is CLI11's; wx gets no options of its own to parse.
bool COrvaneApp::OnInit() {
    return true;
}

int COrvaneApp::OnRun() {
    COrvaneDlg dlg;
    SetTopWindow(&dlg);
    int status = 0;
    if (dlg.Initialise()) {
        dlg.ShowModal();
    } else {
        status = 1;  // another instance runs
    }
    SetTopWindow(nullptr);
    return status;
}

int RunWindow(int argc, char** argv) {
    wxApp::SetInstance(new COrvaneApp);
    bool started = false;
    {
        // The toolkit's own complaint about the display is replaced by ours below.
        wxLogNull quiet;
        started = wxEntryStart(argc, argv);
    }
    if (!started) {
        std::fprintf(stderr,
                     "orvane: no display to open the window on (is DISPLAY set?); "
                     "run \"orvane --headless\" to upgrade devices without a window\n");
        return 1;
    }
    int status = 1;
    if (wxTheApp->CallOnInit()) {
        status = wxTheApp->OnRun();
        wxTheApp->OnExit();
    }
    wxEntryCleanup();
    return status;
}

}  // namespace orvane::ui
