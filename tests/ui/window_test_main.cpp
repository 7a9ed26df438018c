// The window tests' main: a private network (Start binds fixed ports), its own X server.
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

// Sanitizers: fontconfig keeps its font patterns for good; GLib's futex locks are not seen,
// so races inside GObject and GIO (the file dialog's worker threads) are theirs, not ours.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}
extern "C" const char* __tsan_default_suppressions() {
    return "called_from_lib:libfontconfig.so\n"
           "called_from_lib:libglib-2.0.so\n"
           "race:libgobject-2.0.so\n"
           "race:libgio-2.0.so\n";
}

namespace {

// A modal box no wxTEST_DIALOG expected fails the test and is answered Cancel at once.
class UnexpectedModalHook : public wxModalDialogHook {
  protected:
    int Enter(wxDialog* dialog) override {
        auto* box = dynamic_cast<wxMessageDialog*>(dialog);
        ADD_FAILURE() << "unexpected modal window: "
                      << (box ? box->GetMessage() : dialog->GetTitle()).utf8_string();
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

    // -displayfd writes a free display's number once it serves; pdeathsig ends it with us.
    orvane::test::ChildProcess xvfb;
    std::string display;
    if (!xvfb.Start({"/usr/bin/setpriv", "--pdeathsig", "TERM", "--", "/usr/bin/Xvfb", "-displayfd",
                     "1", "-screen", "0", "1280x1024x24", "-dpi", "96", "-nolisten", "tcp"}) ||
        !xvfb.ReadLine(&display, 20000)) {
        std::fprintf(stderr, "window tests: Xvfb did not start\n");
        return 1;
    }
    setenv("DISPLAY", (":" + display).c_str(), 1);

    // A failed toolkit assertion (an unexpected message box among them) fails the running test.
    wxSetAssertHandler([](const wxString& file, int line, const wxString& func,
                          const wxString& cond, const wxString& msg) {
        ADD_FAILURE_AT(file.utf8_str(), line)
            << func.utf8_string() << ": " << cond.utf8_string() << " " << msg.utf8_string();
    });
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
