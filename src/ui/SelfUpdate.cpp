// The self-update check that Start runs in a copy started with "1".
#include "ui/VentoDlg.h"

#include "app/ProgramDir.h"
#include "diag/MyLog.h"
#include "engine/RunMode.h"
#include "platform/FileSystem.h"
#include "platform/Path.h"
#include "transfer/Transfer.h"

std::string SelfUpdateTempPath() {
    return plat::JoinPath(g_szProgramDir, std::string(g_pszUpdaterExe) + ".download");
}

void CVentoDlg::SetupSelfFileItem() {
    g_SelfFileItem.m_strServerFile = g_pszUpdaterExe;
    g_SelfFileItem.m_strTargetFile = plat::JoinPath(g_szProgramDir, g_pszUpdaterExe);
    g_SelfFileItem.m_strLocalFile = g_pszUpdaterExe;
    g_SelfFileItem.m_nFileType = kFileTypeFile;
    g_SelfFileItem.m_strFileType = "FILE";
    g_SelfFileItem.m_nFileClass = kFileClassApp;
    g_SelfFileItem.m_strFileClass = "APP";
}

// The new updater is downloaded beside the old one and moved over it only when it is
// complete, so that a failed download never leaves a broken "KestrelSync.exe".
int CVentoDlg::IsSelfFileUpdated() {
    if (m_pSyncEngine != nullptr) {
        WriteLog(g_pMyLog, 1, "CVentoDlg::IsSelfFileUpdated> Delete Previous Vento Engine");
        m_pSyncEngine.reset();
    }
    WriteLog(g_pMyLog, 1, "CVentoDlg::IsSelfFileUpdated> Create Vento Engine");
    m_pSyncEngine.reset(new CSyncEngine);
    m_pSyncEngine->m_pDlg = this;
    if (m_pSyncEngine->InitSyncEngine(m_pConfig.get()) < 0)
        return -2;
    try {
        return CheckSelfFile(*m_pSyncEngine);
    } catch (const plat::CHttpError& error) {
        // The single-file operations turn their own errors into codes; this is a last resort.
        const std::string text = HttpErrorText(error);
        WriteLog(g_pMyLog, 1, "CCobaltSyncEngine::DownloadFilesInListFromServer> Error : %s",
                 text.c_str());
        m_strStatusText = "프로그램 장애 : " + text;
        AddStatusRow(kStatusError, m_strStatusText);
        return -2;
    }
}

namespace {

// The verified list's line of the updater: its server path is "KestrelSync.exe", or its target
// is the program's own "KestrelSync.exe" (a release store serves every file under its hash).
const DownFileItem* SelfFileLine(const DownFileItemList& items) {
    const std::string self = plat::PathKey(g_SelfFileItem.m_strTargetFile);
    for (const auto& item : items) {
        if (item->m_nFileType != kFileTypeDel && (item->m_strServerFile == g_pszUpdaterExe ||
                                                  plat::PathKey(item->m_strTargetFile) == self))
            return item.get();
    }
    return nullptr;
}

// Trusted mode: the updater is replaced only by what the verified list names, with its hash.
// 0 with the line's server path and hash in g_SelfFileItem (and its time and size when the
// list gives them: bListed), or -2 (logged).
int FindSignedSelfFile(CSyncEngine& engine, bool& bListed) {
    engine.SetListFileItem();
    int r = engine.GetItemServerFileInfo(g_ListFileItem);
    if (r == 0)
        r = engine.FetchListFile();
    if (r == kListNotYetDue) {
        WriteLog(g_pMyLog, 2,
                 "CSyncEngine::IsSelfFileUpdated> Release Not Yet Due Here, Updater Not Replaced");
        return -2;
    }
    if (r != 0) {
        WriteLog(g_pMyLog, 3,
                 "CSyncEngine::IsSelfFileUpdated> No Verified List File, Updater Not Replaced");
        return -2;
    }
    DownFileItemList items;
    engine.GetFileListFileFromFile(items);
    const DownFileItem* line = SelfFileLine(items);
    if (line == nullptr) {
        WriteLog(g_pMyLog, 3,
                 "CSyncEngine::IsSelfFileUpdated> The Verified List Names No %s, Updater Not "
                 "Replaced",
                 g_pszUpdaterExe);
        return -2;
    }
    g_SelfFileItem.m_strServerFile = line->m_strServerFile;
    g_SelfFileItem.m_strSha256 = line->m_strSha256;
    bListed = line->m_strServerFile != g_pszUpdaterExe && line->m_strModifyTime.size() >= 14 &&
              !line->m_strFileSize.empty();
    if (bListed) {
        g_SelfFileItem.m_strModifyTime = line->m_strModifyTime;
        g_SelfFileItem.m_strFileSize = line->m_strFileSize;
    }
    return 0;
}

// The downloaded updater in the updater's place. A running updater (the program an unattended
// run was started as waits for its copies) cannot be replaced on Windows, but it can be
// renamed: it goes aside as "KestrelSync.exe.old", removed at a later start.
// A program downloaded on POSIX has no execute bits; the copy of it must start.
bool StoreNewUpdater(const std::string& download, const std::string& target) {
    if (!plat::MakeExecutable(download))
        return false;
    if (plat::ReplaceFileWith(download, target))
        return true;
    const std::string aside = target + ".old";
    plat::RemoveFile(aside);
    if (!plat::RenameFile(target, aside))
        return false;
    if (plat::RenameFile(download, target))
        return true;
    plat::RenameFile(aside, target);
    return false;
}

} // namespace

int CVentoDlg::CheckSelfFile(CSyncEngine& engine) {
    const int nKeys = engine.LoadListKey();
    if (nKeys < 0) {
        WriteLog(g_pMyLog, 3,
                 "CSyncEngine::IsSelfFileUpdated> Invalid Key File, Updater Not "
                 "Replaced");
        return -2;
    }
    g_SelfFileItem.m_strSha256.clear();
    bool bListed = false;
    if (nKeys > 0 && FindSignedSelfFile(engine, bListed) < 0)
        return -2;
    int r = bListed ? 0 : engine.GetItemServerFileInfo(g_SelfFileItem);
    if (r != 0) {
        WriteLog(g_pMyLog, 1,
                 "CSyncEngine::IsSelfFileUpdated> GetServerFileInfo() Fail, RetVal = %d", r);
        return -2;
    }
    WriteLog(g_pMyLog, 1,
             "CSyncEngine::IsSelfFileUpdated> Server File ModifyTime = %s, FileSize = %s",
             g_SelfFileItem.m_strModifyTime.c_str(), g_SelfFileItem.m_strFileSize.c_str());
    if (engine.IsFileToDownload(g_SelfFileItem) != 1)
        return 0;
    DownFileItem download = g_SelfFileItem;
    download.m_strTargetFile = SelfUpdateTempPath();
    r = engine.DownloadOneFileFromServer(download, 1, 1);
    if (r == 0 && !StoreNewUpdater(download.m_strTargetFile, g_SelfFileItem.m_strTargetFile))
        r = -3; // the old updater stays in place, whole
    if (r == 0) {
        WriteLog(g_pMyLog, 1, "CSyncEngine::IsSelfFileUpdated> Download OK, File = %s",
                 g_SelfFileItem.m_strTargetFile.c_str());
        return 1;
    }
    plat::RemoveFile(download.m_strTargetFile);
    WriteLog(g_pMyLog, 4,
             "CSyncEngine::IsSelfFileUpdated> DownloadOneFileFromServer() Fail, RetVal = %d", r);
    return -2;
}
