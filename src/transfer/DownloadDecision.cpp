// Whether an item's local file must be replaced by the server's.
#include "engine/SyncEngine.h"

#include "diag/MyLog.h"
#include "platform/FileSystem.h"
#include "transfer/HttpDate.h"

#include <cstdint>

CSyncEngine::CTargetCheck CSyncEngine::CheckTarget(const std::string& path) {
    CTargetCheck target;
    target.bFound = plat::GetFileStatus(path, target.status);
    if (!target.bFound)
        target.nError = plat::LastErrorCode();
    return target;
}

int CSyncEngine::IsFileToDownload(const DownFileItem& item, const CTargetCheck* pKnown) {
    if (item.m_nFileType == kFileTypeDel) {
        WriteLog(g_pMyLog, 1, "CCobaltSyncThread::IsFileToDownload> File(%s) is Delete Type File",
                 item.m_strServerFile.c_str());
        return 0;
    }
    std::int64_t tServer = 0;
    const bool bServerTime = ModifyTimeToEpoch(item.m_strModifyTime, tServer);
    const std::int64_t nServerSize = AtoiValue(item.m_strFileSize);

    const CTargetCheck target = pKnown != nullptr ? *pKnown : CheckTarget(item.m_strTargetFile);
    const plat::FileStatus& status = target.status;
    if (!target.bFound) {
        const int nError = target.nError;
        if (nError != plat::kErrFileNotFound) {
            WriteLog(g_pMyLog, 1,
                     "CCobaltSyncThread::IsFileToDownload> Local File Check : GetStatus(%s) "
                     "Return = %d, ErrCode = %d",
                     item.m_strTargetFile.c_str(), 0, nError);
            plat::SetLastErrorCode(nError);
            CMyLog::LogLastErrorText();
        }
        return 1;
    }
    if (item.m_nFileClass == kFileClassSys) {
        WriteLog(g_pMyLog, 2,
                 "CCobaltSyncThread::IsFileToDownload> Local System File(%s) Already Exist",
                 item.m_strTargetFile.c_str());
        return 0;
    }
    // A server time that names no representable moment can never match the local one.
    const std::int64_t nGap = bServerTime ? status.tModify - tServer : INT32_MAX;
    const std::int64_t nAbsGap = nGap < 0 ? -nGap : nGap;
    const bool bTimeDiffers = nAbsGap > m_pConfig->m_nTimeCheckSpan;
    if (bTimeDiffers) {
        WriteLog(g_pMyLog, 1, "CCobaltSyncThread::IsFileToDownload> Local File(%s) Size(%d)",
                 item.m_strTargetFile.c_str(), static_cast<int>(status.nSize));
        WriteLog(g_pMyLog, 1, "CCobaltSyncThread::IsFileToDownload> Time Gap = %d",
                 static_cast<int>(nGap));
    }
    if (static_cast<std::int64_t>(status.nSize) != nServerSize)
        return 1;
    return bTimeDiffers ? 1 : 0;
}
