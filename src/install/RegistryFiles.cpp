// Registry files merged with the registry editor; COM servers registered with regsvr32.
#include "engine/SyncEngine.h"

#include "diag/MyLog.h"
#include "platform/FileSystem.h"
#include "platform/Path.h"
#include "platform/Process.h"

namespace {

std::string RegSvr32Path() {
    return g_strSystemDir + plat::kPathSep + "regsvr32.exe";
}

} // namespace

int CSyncEngine::ProcessRegistryFile(const DownFileItem& item) {
    const std::string& path = item.m_strTargetFile;
    const std::string parameters = "-s " + path;
    WriteLog(g_pMyLog, 1, "CSyncEngine::ProcessRegistryFile> Cmd Str : regedit -s %s ",
             path.c_str());
    const std::size_t sep = plat::LastSepPos(path);
    const std::string folder = sep == std::string::npos ? std::string() : path.substr(0, sep + 1);
    if (plat::StartHidden("regedit", parameters, folder) > 32) {
        WriteLog(g_pMyLog, 1, "CSyncEngine::ProcessRegistryFile> %s 파일 등록에 성공하였습니다.",
                 path.c_str());
        return 1;
    }
    WriteLog(g_pMyLog, 1, "CSyncEngine::ProcessRegistryFile> %s 파일 등록에 실패하였습니다.",
             path.c_str());
    return -1;
}

int CSyncEngine::HandleRegistryTypeFiles() {
    View().SetFileNameText("");
    View().SetStepText("레지스트리 파일 시스템 등록중...");
    bool bFailed = false;
    for (const auto& item : m_DownFileItemList) {
        if (item->m_nFileType != kFileTypeRef || item->m_nSyncOkFlag == 0)
            continue;
        if (ProcessRegistryFile(*item) >= 0)
            continue;
        WriteLog(g_pMyLog, 3, "CSyncEngine::HandleRegistryTypeFiles> Delete Local Flle = %s",
                 item->m_strTargetFile.c_str());
        DeleteLocalFile(item->m_strTargetFile, "CSyncEngine::HandleRegistryTypeFiles", 4, false);
        bFailed = true;
    }
    return bFailed ? -1 : 0;
}

int CSyncEngine::ProcessRegisterFileByRegSvr32(const DownFileItem& item) {
    const std::string program = RegSvr32Path();
    const std::string& path = item.m_strTargetFile;
    WriteLog(g_pMyLog, 1, "CSyncEngine::ProcessRegisterFileByRegSvr32> Cmd Str : %s /s %s",
             program.c_str(), path.c_str());
    const std::size_t sep = plat::LastSepPos(path);
    const std::string folder = sep == std::string::npos ? std::string() : path.substr(0, sep);
    const std::string name = sep == std::string::npos ? path : path.substr(sep + 1);
    // The component is named relative to its folder, which becomes regsvr32's current folder;
    // the updater's own current folder stays as it is.
    const int r = plat::ExecHidden(program + " /s " + name, folder);
    if (r >= 32) {
        WriteLog(g_pMyLog, 2,
                 "CSyncEngine::ProcessRegisterFileByRegSvr32> File(%s) is registered. RetVal = %d",
                 path.c_str(), r);
        return 1;
    }
    WriteLog(g_pMyLog, 4,
             "CSyncEngine::ProcessRegisterFileByRegSvr32> WinExec(%s) Fail, ErrCode = %d",
             path.c_str(), plat::LastErrorCode());
    CMyLog::LogLastErrorText();
    return -2;
}

int CSyncEngine::HandleRegisterTypeFilesByRegSvr32() {
    View().SetFileNameText("");
    View().SetStepText("프로그램 파일 시스템 등록중...");
    std::vector<plat::FoundFile> found;
    if (!plat::FindFiles(RegSvr32Path(), found)) {
        View().ShowMessageBox("시스템에서 regsvr32.exe 파일을 찾을 수 없어 레지스트리에 파일을 "
                              "등록 할 수가 없습니다.",
                              "", kMbOk | kMbIconError);
        return -2;
    }
    bool bFailed = false;
    for (const auto& item : m_DownFileItemList) {
        if (item->m_nFileType != kFileTypeReg || item->m_nSyncOkFlag == 0)
            continue;
        if (ProcessRegisterFileByRegSvr32(*item) >= 0)
            continue;
        WriteLog(g_pMyLog, 3,
                 "CSyncEngine::HandleRegisterTypeFilesByRegSvr32> Delete Local Flle = %s",
                 item->m_strTargetFile.c_str());
        DeleteLocalFile(item->m_strTargetFile, "CSyncEngine::ProcessRegisterFileByRegSvr32", 4,
                        false);
        bFailed = true;
    }
    return bFailed ? -1 : 0;
}
