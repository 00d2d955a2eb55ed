// The single-file operations on a target: its folders, its read-only attribute, its time, and
// the download into it (a fetch into the run mode's target sink).
#include "engine/SyncEngine.h"

#include "config/SyncConfig.h"
#include "diag/MyLog.h"
#include "platform/FileSystem.h"
#include "platform/Path.h"
#include "transfer/Fetch.h"
#include "transfer/HttpDate.h"
#include "transfer/ServerFailOver.h"
#include "transfer/Transfer.h"
#include "updatelist/StringUtil.h"

#include <memory>

void CSyncEngine::CreateTargetFolder(const std::string& strPath) {
    const std::size_t sep = plat::LastSepPos(strPath);
    if (sep == std::string::npos)
        return;
    const std::string folder = strPath.substr(0, sep);
    plat::FileStatus status;
    if (plat::GetFileStatus(folder, status) && status.bFolder)
        return;
    plat::CreateFolderChain(folder);
}

int CSyncEngine::ClearReadOnlyPropertyOfLocalFile(const DownFileItem& item) {
    plat::FileStatus status;
    if (!plat::GetFileStatus(item.m_strTargetFile, status) || !status.bReadOnly)
        return 0;
    WriteLog(g_pMyLog, 1,
             "CSyncEngine::ClearReadOnlyPropertyOfLocalFile> Try To Remove Read Only Property, "
             "File = %s",
             item.m_strTargetFile.c_str());
    return plat::SetReadOnly(item.m_strTargetFile, false) ? 0 : -1;
}

int CSyncEngine::SetDownFileModifyDate(const DownFileItem& item) {
    plat::FileStatus status;
    if (!plat::GetFileStatus(item.m_strTargetFile, status))
        return -1;
    std::int64_t t = 0;
    if (!ModifyTimeToEpoch(item.m_strModifyTime, t)) {
        plat::SetLastErrorCode(plat::kErrInvalidParameter);
        return -2;
    }
    WriteLog(g_pMyLog, 1, "CSyncEngine::SetDownFileModifyDate> Set File(%s) Modify Time = %s",
             item.m_strTargetFile.c_str(), item.m_strModifyTime.c_str());
    return plat::SetFileModifyTime(item.m_strTargetFile, t) ? 0 : -2;
}

int CSyncEngine::DownloadOneFileFromServer(const DownFileItem& item, int /*nIndex*/,
                                           int /*nCount*/) {
    CItemLane lane = Lane();
    return DownloadOneFileFromServer(lane, item);
}

int CSyncEngine::DownloadOneFileFromServer(CItemLane& lane, const DownFileItem& item) {
    CFetchSpec spec;
    spec.strPath = m_pConfig->m_strDownloadBaseUrl + "/" + item.m_strServerFile;
    spec.nExpected = AtoiValue(item.m_strFileSize);
    return OnServers(lane.conn, spec.strPath, true, [&] {
        const std::unique_ptr<CBodySink> sink = m_pMode->TargetSink(item);
        CFetchResult result;
        return FetchBody(lane, spec, *sink, result);
    });
}

void LogRedirects(const plat::CHttpRequest& request, const char* pszWho) {
    for (const std::string& location : request.Redirects())
        WriteLog(g_pMyLog, 2, "%s> Redirected, Location = %s", pszWho, location.c_str());
}

std::string DownloadTempPath(const std::string& target) {
    return target + ".ks-download";
}
