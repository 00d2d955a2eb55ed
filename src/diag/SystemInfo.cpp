// The system information a run begins with.
#include "engine/SyncEngine.h"

#include "app/ProgramDir.h"
#include "diag/MyLog.h"
#include "diag/SockUtil.h"
#include "platform/FileSystem.h"
#include "platform/KnownFolders.h"

int CSyncEngine::GetAndDisplaySystemInfo() {
    const std::string windows = plat::GetWindowsFolder();
    if (windows.empty()) {
        WriteLog(g_pMyLog, 4,
                 "CSyncEngine::GetAndDisplaySystemInfo> GetWindowsDirectory() Fail, ErrCode = %d",
                 plat::LastErrorCode());
        CMyLog::LogLastErrorText();
        View().AddStatusRow(kStatusError, "윈도우 디렉토리 정보 획득 실패");
        return -1;
    }
    const std::string system = plat::GetSystemFolder();
    if (system.empty()) {
        WriteLog(g_pMyLog, 4,
                 "CSyncEngine::GetAndDisplaySystemInfo> GetSystemDirectory() Fail, ErrCode = %d",
                 plat::LastErrorCode());
        CMyLog::LogLastErrorText();
        View().AddStatusRow(kStatusError, "시스템 디렉토리 정보 획득 실패");
        return -2;
    }
    WriteLog(g_pMyLog, 2, "Vento Start, Version = %s", g_szVersion);
    AddFormattedRow(kStatusNormal, "프로그램 버전 관리 시작, 버전 = " + std::string(g_szVersion));

    g_strWindowsDir = windows;
    WriteLog(g_pMyLog, 1, "CSyncEngine::GetAndDisplaySystemInfo> Windows Directory : %s",
             windows.c_str());
    AddFormattedRow(kStatusNormal, "윈도우 디렉토리 경로 : " + windows);

    g_strSystemDir = system;
    WriteLog(g_pMyLog, 1, "CSyncEngine::GetAndDisplaySystemInfo> System Directory : %s",
             system.c_str());
    AddFormattedRow(kStatusNormal, "시스템 디렉토리 경로 : " + system);

    CSockUtil::GetLocalIpAddr(m_szLocalIpAddr);
    WriteLog(g_pMyLog, 1, "CSyncEngine::GetAndDisplaySystemInfo> Local IP Addr : %s",
             m_szLocalIpAddr);
    AddFormattedRow(kStatusNormal, "로컬 시스템 IP 주소 : " + std::string(m_szLocalIpAddr));
    return 0;
}
