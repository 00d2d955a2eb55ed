// The main dialog's behaviour, the same on every platform: it owns the settings, the special
// directory map and the current engine, starts and stops runs, runs the self-update check,
// and reacts to the end of a run. A platform's window derives from it and provides the
// controls (the progress display of CSyncView and the buttons), posted messages, message
// boxes and the settings dialog.
#pragma once

#include "config/DirKeyMap.h"
#include "config/SyncConfig.h"
#include "engine/SyncEngine.h"
#include "ui/SyncView.h"

#include <memory>
#include <set>
#include <string>

class CVentoApp;

// Control ids the behaviour names.
enum : int {
    kIdcClose = 1,
    kIdcStart = 1002,
    kIdcStop = 1003,
};

// Messages the dialog posts to itself or receives from the worker.
enum : int {
    kWmClose = 0x0010,     // WM_CLOSE
    kWmSyncDone = 0x0465,  // WM_USER + 101
    kWmSyncStart = 0x0466, // WM_USER + 102
};

// The settings dialog's six fields, as typed.
struct CConfigFields {
    std::string m_strDownloadBaseUrl;
    std::string m_strServerIp;
    std::string m_strListFileName;
    std::string m_strServerPort;
    std::string m_strLinkAppendName;
    std::string m_strLocalBaseDir; // read-only
    // The keys (SVR_IP_ADDR, ...) whose fields show the policy's value, read-only: the dialog
    // lets nobody change them and their typed text is never taken.
    std::set<std::string> m_setPolicyKeys;
};

class CVentoDlg : public CSyncView {
public:
    // pApp starts the copy after a self-update; strArgument is the command-line argument.
    CVentoDlg(CVentoApp* pApp, std::string strArgument);
    ~CVentoDlg() override;
    CVentoDlg(const CVentoDlg&) = delete;
    CVentoDlg& operator=(const CVentoDlg&) = delete;

    // The initialisation after the window's controls exist (the window sets up the status
    // list's columns and images itself): controls reset, special directories, settings (the
    // settings dialog first when there is no settings file), the argument row, and the
    // automatic start of a copy started with "2".
    void InitDialogState();
    void ResetControls();
    void OnButtonStart();
    void OnButtonStop();
    void OnButtonConfig();
    // The end of a run: 0 starts the target application and closes the dialog; any other
    // outcome gives the buttons back.
    void OnSyncDone(int nOutcome);
    void OnSyncStart() { OnButtonStart(); }
    // Stops a run still in progress (bounded wait) before the window and its controls go.
    void EndRun();

    void UpdateLinkNames();
    void SetupSelfFileItem();
    // 1 the server's updater was stored as the program folder's updater, 0 it is current,
    // -2 the check failed (the ordinary run follows).
    int IsSelfFileUpdated();

    void ExpandSpecialDirPath(DownFileItem& item) override;

    CSyncEngine* GetSyncEngine() const { return m_pSyncEngine.get(); }
    CSyncConfig* GetConfig() const { return m_pConfig.get(); }
    const std::string& GetArgument() const { return m_strArgument; }
    // Where the settings' policy is read from at the next InitDialogState (the platform's
    // store unless set).
    void SetPolicyLocation(const std::string& strLocation) { m_strPolicyLocation = strLocation; }
    // True while the current engine's worker has not ended.
    bool IsRunInProgress() const;
    // The process's exit status for the last run: 0 current (updated now or already), 1
    // failed or stopped, 2 no run took place.
    int RunExitStatus() const;

protected:
    virtual void EnableButton(int nId, bool bEnable) = 0;
    // Posts kWmClose or kWmSyncStart to the dialog itself.
    virtual void PostDialogMessage(int nMessage) = 0;
    // Runs the settings dialog on fields; true when it ended with OK.
    virtual bool RunConfigDialog(CConfigFields& fields) = 0;
    // Whether a complete run starts the target application (not in an unattended run).
    virtual bool StartsApplication() const { return true; }

    std::string m_strStatusText;

private:
    bool CreateEngine();
    // The steps of IsSelfFileUpdated after the engine is connected.
    int CheckSelfFile(CSyncEngine& engine);

    CVentoApp* m_pApp;
    std::string m_strArgument;
    SyncEnginePtr m_pSyncEngine;
    std::unique_ptr<CSyncConfig> m_pConfig;
    std::string m_strPolicyLocation = plat::DefaultPolicyLocation();
    CDirKeyMap m_mapSpecialDir;
};

// "<program folder>/KestrelSync.exe.download": where a self-update is written before it
// replaces the updater.
std::string SelfUpdateTempPath();
