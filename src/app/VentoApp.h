// The process: start-up, the hand-over to a run copy, the main dialog, and shutdown with the
// application's shortcuts.
#pragma once

#include "platform/InstanceLock.h"

#include <functional>
#include <string>

// 1 when ExitInstance writes the shortcuts; 0 in a process that only handed over to a copy.
extern int g_bCreateLinksOnExit;

class CVentoApp {
public:
    // Runs the main dialog modally until it ends (the platform's window).
    using DialogRunner = std::function<void(CVentoApp& app, const std::string& argument)>;

    // Shows a message box that belongs to no window; returns the button chosen.
    using MessageBoxFn =
        std::function<int(const std::string& text, const std::string& caption, unsigned nType)>;

    explicit CVentoApp(DialogRunner runDialog);

    // Where the start-up's messages go (the system's message box unless replaced).
    void SetMessageBox(MessageBoxFn showMessageBox) {
        m_showMessageBox = std::move(showMessageBox);
    }

    // The start-up of a process with its command-line argument (the text after the program
    // path). Always false: there is no message loop beyond the dialog's. While another
    // process runs an update in the program folder, it shows "이미 업데이트가 진행 중입니다."
    // and ends without touching any file (a copy started with "2" first waits up to 10
    // seconds for its parent to end).
    bool InitInstance(const std::string& argument);
    // Shutdown: the shortcuts (unless the process handed over), then the log. Returns the
    // process's exit status: 0 the installation is current (updated now or already, or the
    // release is not yet due here; also a program that handed over to its copy without
    // waiting), 1 the run failed or was stopped, 2 no run took place (another run in
    // progress, no settings, missing rights, a refused command line).
    int ExitInstance();
    // The dialog's verdict on its last run (see CVentoDlg::RunExitStatus).
    void SetExitStatus(int nStatus) { m_nExitStatus = nStatus; }
    // "--unattended": no window, no message box, no prompt, no elevation; each process of the
    // chain waits for the copy it starts and takes its exit status.
    bool IsUnattended() const { return m_bUnattended; }

    // Copies "KestrelSync.exe" to the run copy for argument ("KestrelSyncRun1.exe" for "1",
    // else "KestrelSyncRun2.exe") and starts it with argument. 0 when this process is to end
    // (the copy was started, or the user was told why not), -1 when "KestrelSync.exe" does
    // not exist (nothing shown).
    int RunFromCopy(const std::string& argument);
    // True once a run copy was started: that process does the work.
    bool HandedOver() const { return m_bHandedOver; }

    // The three shortcuts: desktop and Programs menu to the updater, and the emergency one to
    // the application. Always 0.
    int CreateAppLinks();
    // One shortcut in a Programs-menu subfolder (pszFolder) or on the desktop (null). 0, or -1
    // when the subfolder can neither be created nor exists.
    int CreateCobaltAppEnvLink(const char* pszFolder, const std::string& name,
                               const std::string& target, const char* pszArguments);

    // "Can't Execute Version Management Program, ErrCode = %d" after a failed start.
    int LaunchElevated(const std::string& path, const std::string& argument);
    int LaunchDirect(const std::string& path, const std::string& argument);

    // How long a copy started with "2" waits for its parent to give the program folder up.
    static constexpr int kParentWaitMs = 10000;

private:
    void ShowLaunchFailure();
    void ShowBusy();
    // An unattended start that runs nothing: why goes to the log and into a "no-run" result;
    // the exit status is 2. Always false.
    bool EndWithoutRun(const std::string& why);
    // The unattended program the user started may run: it has the rights and the settings.
    bool MayRunUnattended();
    // The run of an unattended copy ("1" or "2"): the dialog without a window.
    void RunUnattended(const std::string& argument);
    // Unattended hand-over: the copy runs with the switch, and this process waits for it.
    int RunCopyAndWait(const std::string& destination, const std::string& argument);

    DialogRunner m_runDialog;
    MessageBoxFn m_showMessageBox;
    plat::CInstanceLock m_instanceLock; // held while this process runs the dialog
    bool m_bHandedOver = false;
    bool m_bUnattended = false;
    int m_nExitStatus = 2;
};
