// The process chain of an unattended run ("--unattended"): nothing is shown and nothing is
// asked. The program the user started checks the rights and the settings and waits for its
// run copy, which may wait for the copy a self-update starts; the exit status of the last one
// comes back up the chain.
#include "app/VentoApp.h"

#include "app/CommandLine.h"
#include "app/ProgramDir.h"
#include "config/SyncConfig.h"
#include "diag/MyLog.h"
#include "engine/RunReport.h"
#include "platform/Path.h"
#include "platform/Process.h"
#include "ui/UnattendedDlg.h"

bool CVentoApp::EndWithoutRun(const std::string& why) {
    if (g_pMyLog == nullptr) {
        g_pMyLog = new CMyLog(10, plat::JoinPath(g_szProgramDir, g_pszLogFolder), "KestrelSync");
        g_pMyLog->SetLogLevel(1);
    }
    WriteLog(g_pMyLog, 4, "CVentoApp::InitInstance> No Run : %s", why.c_str());
    CRunReport report;
    report.strResult = kResultNoRun;
    report.strCause = "no-run";
    report.strDetail = why;
    report.nStartedMs = report.nFinishedMs = UtcNowMs();
    report.strVersion = g_szVersion;
    PublishRunReport(g_szProgramDir, report);
    m_nExitStatus = 2;
    return false;
}

bool CVentoApp::MayRunUnattended() {
    std::string why;
    if (!plat::HasUpdateRights(g_szProgramDir, why))
        return EndWithoutRun(why);
    if (!IsFileExist(ConfigFilePath(g_szProgramDir)))
        return EndWithoutRun("no settings file " + ConfigFilePath(g_szProgramDir));
    return true;
}

void CVentoApp::RunUnattended(const std::string& argument) {
    if (!IsFileExist(ConfigFilePath(g_szProgramDir))) {
        EndWithoutRun("no settings file " + ConfigFilePath(g_szProgramDir));
        return;
    }
    WriteLog(g_pMyLog, 2, "CVentoApp::InitInstance> Unattended Run, Argument = %s",
             argument.c_str());
    CUnattendedDlg dialog(this, argument);
    dialog.RunQueue();
    if (!m_bHandedOver)
        m_nExitStatus = dialog.RunExitStatus();
}

int CVentoApp::RunCopyAndWait(const std::string& destination, const std::string& argument) {
    m_bHandedOver = true;
    const int nStatus = plat::RunAndWait(destination, ChainArguments(argument, true));
    if (nStatus < 0) {
        m_bHandedOver = false;
        EndWithoutRun(destination +
                      " could not be started, ErrCode = " + std::to_string(plat::LastErrorCode()));
        return 0;
    }
    WriteLog(g_pMyLog, 2, "CVentoApp::RunFromCopy> %s Ended, Exit Status = %d", destination.c_str(),
             nStatus);
    m_nExitStatus = nStatus;
    return 0;
}
