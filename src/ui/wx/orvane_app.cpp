#include "ui/wx/orvane_app.h"

#include <wx/log.h>
#ifdef __WXMSW__
#include <wx/msw/wrapwin.h>
#endif

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
#ifdef __WXMSW__
    // A console made for this process alone (a double-click, the Start menu) would stand
    // empty beside the window: it goes as the window opens. One the program was started from
    // stays.
    DWORD processes[2];
    if (::GetConsoleProcessList(processes, 2) == 1) {
        ::FreeConsole();
    }
#endif
    int status = 1;
    if (wxTheApp->CallOnInit()) {
        status = wxTheApp->OnRun();
        wxTheApp->OnExit();
    }
    wxEntryCleanup();
    return status;
}

}  // namespace orvane::ui
