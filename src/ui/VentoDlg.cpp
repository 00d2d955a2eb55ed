#include "ui/VentoDlg.h"

#include "app/ProgramDir.h"
#include "app/VentoApp.h"
#include "config/ConfigKeys.h"
#include "diag/MyLog.h"
#include "platform/FileSystem.h"
#include "platform/Path.h"
#include "platform/Process.h"

CVentoDlg::CVentoDlg(CVentoApp* pApp, std::string strArgument)
    : m_pApp(pApp), m_strArgument(std::move(strArgument)) {}

CVentoDlg::~CVentoDlg() {
    EndRun();
}

void CVentoDlg::InitDialogState() {
    ResetControls();
    m_mapSpecialDir.LoadSpecialDirMap();
    m_pSyncEngine.reset();
    const std::string path = ConfigFilePath(g_szProgramDir);
    m_pConfig = std::make_unique<CSyncConfig>(path, m_strPolicyLocation);
    UpdateLinkNames();
    if (!IsFileExist(path))
        OnButtonConfig();
    m_strStatusText = "Program Argument = " + m_strArgument;
    AddStatusRow(kStatusNormal, m_strStatusText);
    if (m_strArgument == "2")
        PostDialogMessage(kWmSyncStart);
}

void CVentoDlg::ResetControls() {
    SetFileNameText("");
    SetStepText("");
    SetTotalText("");
    EnableButton(kIdcStart, true);
    EnableButton(kIdcStop, true);
    SetTotalRange(0, 100);
    SetTotalPos(0);
    SetFileRange(0, 100);
    SetFilePos(0);
    ClearStatusList();
}

bool CVentoDlg::CreateEngine() {
    if (m_pSyncEngine != nullptr) {
        WriteLog(g_pMyLog, 1, "CVentoDlg::OnButtonStart> Delete Previous Vento Engine");
        m_pSyncEngine.reset();
    }
    WriteLog(g_pMyLog, 1, "CVentoDlg::OnButtonStart> Create Vento Engine");
    m_pSyncEngine.reset(new CSyncEngine);
    m_pSyncEngine->m_pDlg = this;
    const int r = m_pSyncEngine->InitSyncEngine(m_pConfig.get());
    if (r < 0) {
        WriteLog(g_pMyLog, 1, "CVentoDlg::OnButtonStart> Can't Init Sync Engine, RetVal = %d", r);
        m_pSyncEngine.reset();
        return false;
    }
    return true;
}

void CVentoDlg::OnButtonStart() {
    if (m_pConfig->CheckConfig() != 1) {
        ShowMessageBox("환경 정보가 올바르지 않습니다. 확인하여 주세요...", "", kMbOk);
        return;
    }
    if (m_strArgument == "1") {
        SetupSelfFileItem();
        if (IsSelfFileUpdated() == 1) {
            WriteLog(g_pMyLog, 1,
                     "CVentoDlg::OnButtonStart> Vento Program is Updated, So Start New Program");
            if (m_pApp != nullptr)
                m_pApp->RunFromCopy("2");
            PostDialogMessage(kWmClose);
            return;
        }
    }
    if (CreateEngine())
        m_pSyncEngine->StartSyncThread();
}

void CVentoDlg::OnButtonStop() {
    if (m_pSyncEngine != nullptr) {
        WriteLog(g_pMyLog, 1, "CVentoDlg::OnButtonStop> Set m_pSyncEngine->m_nRequestStopFlag = 1");
        m_pSyncEngine->m_nRequestStopFlag = 1;
    }
    EnableButton(kIdcStart, true);
    EnableButton(kIdcStop, false);
}

void CVentoDlg::OnButtonConfig() {
    CSyncConfig& config = *m_pConfig;
    CConfigFields fields;
    fields.m_strDownloadBaseUrl = config.m_strDownloadBaseUrl;
    fields.m_strServerIp = config.m_strServerIp;
    fields.m_strListFileName = config.m_strListFileName;
    fields.m_strServerPort = std::to_string(config.m_nServerPort);
    fields.m_strLinkAppendName = config.m_strLinkAppendName;
    fields.m_strLocalBaseDir = config.m_strLocalBaseDir;
    for (const char* key : {kKeyDownloadBaseUrl, kKeyServerIp, kKeyListFileName, kKeyServerPort}) {
        if (config.IsFromPolicy(key))
            fields.m_setPolicyKeys.insert(key);
    }
    if (!RunConfigDialog(fields))
        return;
    // A running engine has its own copy of the settings; these take effect at the next run.
    // The policy's values stay whatever the fields hold.
    auto editable = [&config](const char* key) { return !config.IsFromPolicy(key); };
    if (editable(kKeyServerPort))
        config.m_nServerPort = AtoiValue(fields.m_strServerPort);
    if (editable(kKeyServerIp))
        config.m_strServerIp = fields.m_strServerIp;
    if (editable(kKeyDownloadBaseUrl))
        config.m_strDownloadBaseUrl = fields.m_strDownloadBaseUrl;
    if (editable(kKeyListFileName))
        config.m_strListFileName = fields.m_strListFileName;
    config.m_strLinkAppendName = fields.m_strLinkAppendName;
    config.SaveConfig();
    UpdateLinkNames();
}

void CVentoDlg::OnSyncDone(int nOutcome) {
    const std::string commandLine = plat::JoinPath(g_szProgramDir, g_pszTargetExe) + " ";
    if (nOutcome != kSyncDoneComplete) {
        EnableButton(kIdcStart, true);
        EnableButton(kIdcStop, false);
        EnableButton(kIdcClose, true);
        return;
    }
    m_mapSpecialDir.ClearSpecialDirMap();
    if (!StartsApplication()) {
        PostDialogMessage(kWmClose);
        return;
    }
    int nProcessId = 0;
    if (plat::StartApplication(commandLine, nProcessId)) {
        WriteLog(g_pMyLog, 2, "CVentoCtrl::CopyAndRun> Agent Start, PID = %d", nProcessId);
    } else {
        WriteLog(g_pMyLog, 4,
                 "CVentoCtrl::CopyAndRun> CreateProcess() Fail, RetVal = %d, ErrCode = %d", 0,
                 plat::LastErrorCode());
        CMyLog::LogLastErrorText();
    }
    PostDialogMessage(kWmClose);
}

void CVentoDlg::EndRun() {
    if (IsRunInProgress())
        m_pSyncEngine.reset(); // stops the worker within the engine's bound
}

bool CVentoDlg::IsRunInProgress() const {
    return m_pSyncEngine != nullptr && m_pSyncEngine->m_pSyncThread != nullptr &&
           m_pSyncEngine->m_nThreadEndedFlag == 0;
}

int CVentoDlg::RunExitStatus() const {
    if (m_pSyncEngine == nullptr || !m_pSyncEngine->m_bRunReported)
        return ExitStatusOf(kResultNoRun);
    return ExitStatusOf(m_pSyncEngine->m_runReport.strResult);
}

void CVentoDlg::UpdateLinkNames() {
    ::UpdateLinkNames(*m_pConfig);
}

void CVentoDlg::ExpandSpecialDirPath(DownFileItem& item) {
    m_mapSpecialDir.ExpandSpecialDirPath(item);
}
