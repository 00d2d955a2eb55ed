// The updater on POSIX: the same process chain as on Windows ("KestrelSync.exe" hands over to
// "KestrelSyncRun1.exe" with "1", which may relaunch as "KestrelSyncRun2.exe" with "2"), with
// the main dialog on the terminal.
#include "app/VentoApp.h"
#include "ui/console/ConsoleDlg.h"

#include <atomic>
#include <csignal>
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

int g_nOutcome = -1;

void RunConsoleDialog(CVentoApp& app, const std::string& argument) {
    CConsoleDlg dialog(&app, argument, stdout, stdin, ::isatty(STDOUT_FILENO) != 0,
                       ::isatty(STDIN_FILENO) != 0);
    g_pDialog = &dialog;
    std::signal(SIGINT, OnInterrupt);
    g_nOutcome = dialog.DoModal();
    std::signal(SIGINT, SIG_DFL);
    g_pDialog = nullptr;
}

} // namespace

int main(int argc, char** argv) {
    CVentoApp app(&RunConsoleDialog);
    app.InitInstance(argc > 1 ? argv[1] : "");
    app.ExitInstance();
    // A process that handed over, or a run that completed, ends well.
    return g_nOutcome <= 0 ? 0 : g_nOutcome;
}
