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
    // process's exit code.
    int ExitInstance();

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

    DialogRunner m_runDialog;
    MessageBoxFn m_showMessageBox;
    plat::CInstanceLock m_instanceLock; // held while this process runs the dialog
    bool m_bHandedOver = false;
};
