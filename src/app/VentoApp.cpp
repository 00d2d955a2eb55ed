#include "app/VentoApp.h"

#include "app/CommandLine.h"
#include "app/ProgramDir.h"
#include "app/ProxyPasswordCommand.h"
#include "apply/Apply.h"
#include "config/SyncConfig.h"
#include "diag/MyLog.h"
#include "engine/RunReport.h"
#include "platform/FileSystem.h"
#include "platform/KnownFolders.h"
#include "platform/MessageBox.h"
#include "platform/Network.h"
#include "platform/Path.h"
#include "platform/Process.h"
#include "platform/ShellLink.h"

#include <cstdio>
#include <iostream>

int g_bCreateLinksOnExit = 1;

namespace {

using plat::kMbOk;
const char* const kSocketInitFailed = "Windows 소켓 초기화에 실패하였습니다.";
const char* const kUpdateInProgress = "이미 업데이트가 진행 중입니다.";

} // namespace

CVentoApp::CVentoApp(DialogRunner runDialog)
    : m_runDialog(std::move(runDialog)), m_showMessageBox(&plat::ShowMessageBox) {}

void CVentoApp::ShowLaunchFailure() {
    char text[128];
    std::snprintf(text, sizeof text, "Can't Execute Version Management Program, ErrCode = %d",
                  plat::LastErrorCode());
    m_showMessageBox(text, "", kMbOk);
}

void CVentoApp::ShowBusy() {
    g_bCreateLinksOnExit = 0;
    m_nExitStatus = 2;
    if (m_bUnattended)
        EndWithoutRun("another update runs in " + g_szProgramDir);
    else
        m_showMessageBox(kUpdateInProgress, "", kMbOk);
}

bool CVentoApp::InitInstance(const std::string& commandLine) {
    InitProgramDir();
    CreateWorkDirectories();
    const CCommandLine line = ParseCommandLine(commandLine);
    if (line.strChain == kSetProxyPasswordSwitch) {
        g_bCreateLinksOnExit = 0;
        m_nExitStatus = SetProxyPassword(g_szProgramDir, std::cin, std::cerr);
        return false;
    }
    m_bUnattended = line.bUnattended;
    const std::string& argument = line.strChain;
    if (!line.strError.empty()) {
        g_bCreateLinksOnExit = 0;
        return EndWithoutRun(line.strError);
    }
    if (argument.empty() && plat::IsInstanceLockHeld(g_szProgramDir)) {
        ShowBusy(); // the running copy's executable is not even copied over
        return false;
    }
    if (argument.empty() && m_bUnattended && !MayRunUnattended()) {
        g_bCreateLinksOnExit = 0;
        return false;
    }
    if (argument.empty() && RunFromCopy("1") == 0) {
        g_bCreateLinksOnExit = 0;
        return false;
    }
    // Before the log: a second instance writes nothing.
    if (!m_instanceLock.Acquire(g_szProgramDir, argument == "2" ? kParentWaitMs : 0)) {
        ShowBusy();
        return false;
    }
    const std::string prefix = argument.empty() ? "KestrelSync" : "KestrelSync_" + argument;
    g_pMyLog = new CMyLog(10, plat::JoinPath(g_szProgramDir, g_pszLogFolder), prefix);
    g_pMyLog->SetLogLevel(1);
    WriteLog(g_pMyLog, 2, "CVentoApp::InitInstance> Vento Start...");
    // An updater that a self-update set aside while it ran (see StoreNewUpdater).
    if (argument == "1")
        plat::RemoveLeftOverFile(plat::JoinPath(g_szProgramDir, g_pszUpdaterExe) + ".old");
    // An apply that a killed process left is finished or undone before anything else.
    RecoverApplyOfFolder(g_szProgramDir, "CVentoApp::InitInstance");
    if (!plat::InitSocketLayer()) {
        m_showMessageBox(kSocketInitFailed, "", kMbOk);
        return false;
    }
    if (m_bUnattended)
        RunUnattended(argument);
    else if (m_runDialog)
        m_runDialog(*this, argument);
    return false;
}

int CVentoApp::ExitInstance() {
    if (g_bCreateLinksOnExit == 1)
        CreateAppLinks();
    if (g_pMyLog != nullptr) {
        WriteLog(g_pMyLog, 1, "CVentoApp::ExitInstance> Delete g_pMyLog.");
        delete g_pMyLog;
        g_pMyLog = nullptr;
    }
    return m_nExitStatus;
}

int CVentoApp::RunFromCopy(const std::string& argument) {
    const char* destinationName = argument == "1" ? g_pszRun1Exe : g_pszRun2Exe;
    const std::string destination = plat::JoinPath(g_szProgramDir, destinationName);
    const std::string source = plat::JoinPath(g_szProgramDir, g_pszUpdaterExe);
    if (m_bUnattended && argument == "2")
        m_instanceLock.Release(); // the copy takes the program folder over
    if (plat::CopyFileOver(source, destination)) {
        if (m_bUnattended)
            return RunCopyAndWait(destination, argument);
        const int r = plat::GetOsMajorVersion() > 5 ? LaunchElevated(destination, argument)
                                                    : LaunchDirect(destination, argument);
        m_bHandedOver = r == 0;
        if (m_bHandedOver)
            m_nExitStatus = 0;
        return 0;
    }
    const int nError = plat::LastErrorCode();
    std::string text;
    std::string message = "프로그램을 복사할 수 없습니다.\n기존에 실행중인 프로그램을 종료후 "
                          "다시시작하세요.\n에러 내용 : ";
    if (plat::SystemErrorText(nError, text))
        message += "(" + std::to_string(nError) + ") " + text;
    else
        message += std::to_string(nError);
    if (nError == plat::kErrFileNotFound)
        return -1;
    if (m_bUnattended) {
        EndWithoutRun(message);
        return 0;
    }
    m_showMessageBox(message, "", kMbOk);
    return 0;
}

int CVentoApp::LaunchElevated(const std::string& path, const std::string& argument) {
    if (plat::StartElevated(path, argument))
        return 0;
    ShowLaunchFailure();
    return -1;
}

int CVentoApp::LaunchDirect(const std::string& path, const std::string& argument) {
    if (plat::StartDirect(path, argument))
        return 0;
    ShowLaunchFailure();
    return -1;
}

int CVentoApp::CreateAppLinks() {
    // A process whose dialog never ran (the socket layer failed) has no names yet: they come
    // from the settings file, so that no shortcut is named ".lnk" alone.
    if (g_szAppDisplayName.empty() || g_szEmergencyLinkName.empty())
        UpdateLinkNames(CSyncConfig(ConfigFilePath(g_szProgramDir)));
    const std::string updater = plat::JoinPath(g_szProgramDir, g_pszUpdaterExe);
    const std::string target = plat::JoinPath(g_szProgramDir, g_pszTargetExe);
    CreateCobaltAppEnvLink(nullptr, g_szAppDisplayName, updater, nullptr);
    CreateCobaltAppEnvLink(g_pszMenuFolder, g_szAppDisplayName, updater, nullptr);
    CreateCobaltAppEnvLink(g_pszMenuFolder, g_szEmergencyLinkName, target, nullptr);
    return 0;
}

int CVentoApp::CreateCobaltAppEnvLink(const char* pszFolder, const std::string& name,
                                      const std::string& target, const char* pszArguments) {
    std::string folder = plat::GetSpecialFolder(
        pszFolder != nullptr ? plat::SpecialFolder::Programs : plat::SpecialFolder::Desktop);
    if (pszFolder != nullptr) {
        // A desktop session's applications folder may not exist yet (the Windows one does).
        plat::CreateFolderChain(folder);
        folder = plat::JoinPath(folder, pszFolder);
        if (!plat::CreateFolder(folder) && plat::LastErrorCode() != plat::kErrAlreadyExists)
            return -1;
    }
    const std::string link = plat::JoinPath(folder, name + plat::ShortcutExtension());
    const int r = plat::CreateShortcut(link, target, pszArguments != nullptr ? pszArguments : "");
    if (r == 0)
        WriteLog(g_pMyLog, 4, "CVentoApp::CreateCobaltAppEnvLink> 바탕화면에 링크 생성 성공");
    else if (r == -3)
        WriteLog(g_pMyLog, 4, "CVentoApp::CreateCobaltAppEnvLink> 바탕화면에 링크 생성 실패");
    return 0;
}
