// The updater on Windows: "KestrelSync.exe" hands over to "KestrelSyncRun1.exe" with "1",
// which shows the dialog and may relaunch as "KestrelSyncRun2.exe" with "2" after a
// self-update.
#include "app/VentoApp.h"
#include "platform/win32/WinText.h"
#include "ui/win32/VentoWin32Dlg.h"

#include <windows.h>

#include <commctrl.h>

namespace {

// The text after the program path on the command line, leading blanks skipped.
std::string CommandLineArgument() {
    const wchar_t* p = ::GetCommandLineW();
    if (*p == L'"') {
        ++p;
        while (*p != L'\0' && *p != L'"')
            ++p;
        if (*p == L'"')
            ++p;
    } else {
        while (*p != L'\0' && *p != L' ' && *p != L'\t')
            ++p;
    }
    while (*p == L' ' || *p == L'\t')
        ++p;
    return plat::Narrow(p);
}

void RunDialog(CVentoApp& app, const std::string& argument) {
    CVentoWin32Dlg dialog(&app, argument);
    dialog.DoModal();
    if (!app.HandedOver())
        app.SetExitStatus(dialog.RunExitStatus());
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS | ICC_LISTVIEW_CLASSES};
    ::InitCommonControlsEx(&controls);
    CVentoApp app(&RunDialog);
    app.InitInstance(CommandLineArgument());
    return app.ExitInstance();
}
