// The updater on POSIX: the same process chain as on Windows ("KestrelSync.exe" hands over to
// "KestrelSyncRun1.exe" with "1", which may relaunch as "KestrelSyncRun2.exe" with "2"), with
// the main dialog on the terminal.
#include "app/VentoApp.h"
#include "ui/console/ConsoleDlg.h"

#include <atomic>
#include <csignal>
#include <string>
#include <unistd.h>

namespace {

std::atomic<CConsoleDlg*> g_pDialog{nullptr};

// Ctrl-C asks the run to stop, as the dialog's Stop button does.
extern "C" void OnInterrupt(int) {
    if (CConsoleDlg* dialog = g_pDialog.load()) {
        if (CSyncEngine* engine = dialog->GetSyncEngine())
            engine->m_nRequestStopFlag = 1;
    }
}

void RunConsoleDialog(CVentoApp& app, const std::string& argument) {
    CConsoleDlg dialog(&app, argument, stdout, stdin, ::isatty(STDOUT_FILENO) != 0,
                       ::isatty(STDIN_FILENO) != 0);
    g_pDialog = &dialog;
    std::signal(SIGINT, OnInterrupt);
    dialog.DoModal();
    std::signal(SIGINT, SIG_DFL);
    g_pDialog = nullptr;
    if (!app.HandedOver())
        app.SetExitStatus(dialog.RunExitStatus());
}

} // namespace

// The exit status: see CVentoApp::ExitInstance. The arguments are joined by blanks, as the
// Windows program reads its command line.
int main(int argc, char** argv) {
    CVentoApp app(&RunConsoleDialog);
    std::string commandLine;
    for (int i = 1; i < argc; ++i)
        commandLine += (i > 1 ? " " : "") + std::string(argv[i]);
    app.InitInstance(commandLine);
    return app.ExitInstance();
}
