// The window tests' main: a private network namespace (Start binds the fixed ports), a
// virtual X server of its own, then the toolkit.
#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/modalhook.h>
#include <wx/msgdlg.h>

#include <csignal>
#include <cstdlib>
#include <string>

#include "common/child_process.h"
#include "common/netns.h"
#include "common/temp_dir.h"

// Sanitizer builds: fontconfig never frees the font patterns Pango and cairo hold for good.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}

// Thread sanitizer builds: GLib and fontconfig are not instrumented (GLib's futex locks are
// invisible to it).
extern "C" const char* __tsan_default_suppressions() {
    return "called_from_lib:libfontconfig.so\n"
           "called_from_lib:libglib-2.0.so\n";
}

namespace {

// A failed toolkit assertion (an unexpected message box among them) fails the running test.
void ReportWxAssert(const wxString& file, int line, const wxString& func, const wxString& cond,
                    const wxString& msg) {
    ADD_FAILURE_AT(file.utf8_str(), line)
        << func.utf8_string() << ": " << cond.utf8_string() << " " << msg.utf8_string();
}

// A modal box no wxTEST_DIALOG expected fails the test and is answered Cancel at once.
class UnexpectedModalHook : public wxModalDialogHook {
  protected:
    int Enter(wxDialog* dialog) override {
        wxString text = dialog->GetTitle();
        if (auto* box = dynamic_cast<wxMessageDialog*>(dialog)) {
            text = box->GetMessage();
        }
        ADD_FAILURE() << "unexpected modal window: " << text.utf8_string();
        return wxID_CANCEL;
    }
    void Exit(wxDialog*) override {}
};

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (GTEST_FLAG_GET(list_tests)) {
        return RUN_ALL_TESTS();
    }
    orvane::test::EnterPrivateNetwork();
    setenv("ORVANE_UPDATE_HOST", "127.0.0.1", 1);
    setenv("no_proxy", "*", 1);
    orvane::test::TempDir runtime;
    setenv("XDG_RUNTIME_DIR", runtime.Path().c_str(), 1);
    // No desktop session here: no accessibility bus, no settings daemon to look for.
    setenv("NO_AT_BRIDGE", "1", 1);
    setenv("GSETTINGS_BACKEND", "memory", 1);
    unsetenv("WAYLAND_DISPLAY");

    // -displayfd picks a free display number and writes it once the server accepts clients.
    // The server ends with this program even when a sanitizer or a crash ends it early.
    orvane::test::ChildProcess xvfb;
    std::string display;
    if (!xvfb.Start({"/usr/bin/setpriv", "--pdeathsig", "TERM", "--", "/usr/bin/Xvfb", "-displayfd",
                     "1", "-screen", "0", "1280x1024x24", "-dpi", "96", "-nolisten", "tcp"}) ||
        !xvfb.ReadLine(&display, 20000)) {
        std::fprintf(stderr, "window tests: Xvfb did not start\n");
        return 1;
    }
    setenv("DISPLAY", (":" + display).c_str(), 1);

    wxSetAssertHandler(ReportWxAssert);
    UnexpectedModalHook unexpectedModal;
    unexpectedModal.Register();
    wxApp::SetInstance(new wxApp);
    int status = 1;
    if (wxEntryStart(argc, argv)) {
        status = RUN_ALL_TESTS();
        unexpectedModal.Unregister();
        wxEntryCleanup();
    } else {
        std::fprintf(stderr, "window tests: the toolkit could not open display :%s\n",
                     display.c_str());
    }
    xvfb.Signal(SIGTERM);
    xvfb.Wait(5000);
    return status;
}
