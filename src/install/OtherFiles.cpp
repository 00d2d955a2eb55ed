// Executables, deletions and fonts.
#include "engine/SyncEngine.h"

#include "diag/MyLog.h"
#include "platform/FileSystem.h"
#include "platform/Fonts.h"
#include "platform/Path.h"

int CSyncEngine::HandleExecuteTypeFiles() {
    View().SetFileNameText("");
    View().SetStepText("실행 파일 처리중...");
    return 0;
}

int CSyncEngine::HandleDeleteTypeFiles() {
    View().SetFileNameText("");
    View().SetStepText("삭제 파일 처리중...");
    m_pMode->DeleteListedFiles(*this);
    return 0;
}

int CSyncEngine::HandleFontTypeFiles() {
    View().SetFileNameText("");
    View().SetStepText("글꼴 등록중...");
    bool bFailed = false;
    for (const auto& item : m_DownFileItemList) {
        if (item->m_nFileType == kFileTypeFont && item->m_nSyncOkFlag != 0 &&
            ProcessFontFile(*item) < 0)
            bFailed = true;
    }
    return bFailed ? -1 : 0;
}

namespace {

// Adds a font of the fonts folder; a failure is an error only after a copy. True when added.
bool AddInstalledFont(const std::string& fontFile, bool bAfterCopy) {
    const int n = plat::AddFontFile(fontFile);
    if (n != 0 && bAfterCopy) {
        WriteLog(g_pMyLog, 2,
                 "CVentoExeDlg::ProcessFontFile> AddFontRecource(%s) Success, nRet = %d",
                 fontFile.c_str(), n);
    } else if (n != 0) {
        WriteLog(g_pMyLog, 2,
                 "CVentoExeDlg::ProcessFontFile> AddFontRecource(%s) Success. nRet = %d",
                 fontFile.c_str(), n);
    }
    if (n != 0)
        return true;
    WriteLog(g_pMyLog, bAfterCopy ? 4 : 2,
             "CVentoExeDlg::ProcessFontFile> AddFontRecource(%s) Fail, ErrCode = %d",
             fontFile.c_str(), plat::LastErrorCode());
    CMyLog::LogLastErrorText();
    return false;
}

} // namespace

int CSyncEngine::ProcessFontFile(const DownFileItem& item) {
    WriteLog(g_pMyLog, 2, "CVentoExeDlg::ProcessFontFile> m_strTargetFile = %s",
             item.m_strTargetFile.c_str());
    const std::string strFontDir = plat::FontsFolder(g_strWindowsDir);
    WriteLog(g_pMyLog, 2, "CVentoExeDlg::ProcessFontFile> strFontDir = %s", strFontDir.c_str());
    const std::size_t sep = plat::LastSepPos(item.m_strTargetFile);
    const std::string strFontFile =
        sep == std::string::npos ? item.m_strTargetFile : item.m_strTargetFile.substr(sep + 1);
    WriteLog(g_pMyLog, 2, "CVentoExeDlg::ProcessFontFile> strFontFile = %s", strFontFile.c_str());
    const std::string strDstFile = strFontDir + plat::kPathSep + strFontFile;
    WriteLog(g_pMyLog, 2, "CVentoExeDlg::ProcessFontFile> strDstFile = %s", strDstFile.c_str());

    plat::FileStatus status;
    if (plat::GetFileStatus(strDstFile, status)) {
        WriteLog(g_pMyLog, 2, "CVentoExeDlg::ProcessFontFile> Previous Font(%s) is Already Exist",
                 strDstFile.c_str());
        AddInstalledFont(strFontFile, false);
        return 0;
    }
    WriteLog(g_pMyLog, 2, "CVentoExeDlg::ProcessFontFile> Font(%s) is not Exist",
             strDstFile.c_str());
    if (plat::RemoveFontFile(strFontFile)) {
        WriteLog(g_pMyLog, 2,
                 "CVentoExeDlg::ProcessFontFile> Success to Remove Previous Font(%s) Reource",
                 strFontFile.c_str());
    } else {
        WriteLog(g_pMyLog, 2,
                 "CVentoExeDlg::ProcessFontFile> Fail to Remove Previous Font(%s) Reource",
                 strFontFile.c_str());
        CMyLog::LogLastErrorText();
    }
    if (!plat::CopyFileOver(item.m_strTargetFile, strDstFile)) {
        WriteLog(g_pMyLog, 4, "CVentoExeDlg::ProcessFontFile> CopyFile(%s) Fail, ErrCode = %d",
                 strDstFile.c_str(), plat::LastErrorCode());
        CMyLog::LogLastErrorText();
        return -2;
    }
    WriteLog(g_pMyLog, 2, "CVentoExeDlg::ProcessFontFile> CopyFile(%s) Success",
             strDstFile.c_str());
    if (!AddInstalledFont(strFontFile, true))
        return -3;
    return 0;
}
