#include "engine/PlainRun.h"

#include "diag/MyLog.h"
#include "engine/SyncEngine.h"
#include "transfer/TargetFileSink.h"
#include "updatelist/ListFile.h"

CSyncConnection::EncodeFn CPlainRun::UrlEncoding() const {
    return &CSyncConnection::EncodeUrlPath;
}

std::size_t CPlainRun::ListLineMax() const {
    return kListPieceMax;
}

int CPlainRun::FetchListFile(CSyncEngine& engine) {
    return engine.DownloadOneFileFromServer(g_ListFileItem, 1, 1);
}

std::unique_ptr<CBodySink> CPlainRun::TargetSink(const DownFileItem& item) const {
    return std::make_unique<CTargetFileSink>(item, false, false);
}

int CPlainRun::DownloadFiles(CSyncEngine& engine, bool& bAllDone) {
    DownFileItemList& items = engine.m_DownFileItemList;
    const int nCount = static_cast<int>(items.size());
    int nResult = 1;
    engine.PipelineItemHeads();
    const int nReported = engine.ForEachItem(
        nCount,
        [&](CItemLane& lane, int i) {
            return engine.SyncOneItem(lane, *items[static_cast<std::size_t>(i)], i + 1, nCount);
        },
        [&nResult](int, bool bOk) {
            if (!bOk)
                nResult = 0;
        },
        [&items](int i) { return items[static_cast<std::size_t>(i)]->m_strTargetFile; });
    if (engine.m_nRequestStopFlag != 0)
        WriteLog(g_pMyLog, 1, "CSyncEngine::DownloadFilesInListFromServer> m_nRequestStopFlag = %d",
                 engine.m_nRequestStopFlag.load());
    bAllDone = nResult == 1 && nReported == nCount;
    return nResult;
}

void CPlainRun::DeleteListedFiles(CSyncEngine& engine) {
    for (const auto& item : engine.m_DownFileItemList) {
        if (item->m_nFileType != kFileTypeDel)
            continue;
        WriteLog(g_pMyLog, 2, "CSyncEngine::HandleDeleteTypeFiles> Delete Local Flle = %s",
                 item->m_strTargetFile.c_str());
        CSyncEngine::DeleteLocalFile(item->m_strTargetFile, "CSyncEngine::HandleDeleteTypeFiles", 2,
                                     false);
    }
}
