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
std::atomic<int> g_nInterrupted{0};

// Ctrl-C asks the run to stop, as the dialog's Stop button does.
extern "C" void OnInterrupt(int) {
    g_nInterrupted = 1;
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

// The exit status: 0 a completed run (or the hand-over to the copy that runs it), 1 a run that
// failed or was stopped, 2 no run at all.
int main(int argc, char** argv) {
    CVentoApp app(&RunConsoleDialog);
    app.InitInstance(argc > 1 ? argv[1] : "");
    app.ExitInstance();
    if (g_nOutcome < 0)
        return app.HandedOver() ? 0 : 2;
    return g_nOutcome == kSyncDoneComplete && g_nInterrupted == 0 ? 0 : 1;
}
