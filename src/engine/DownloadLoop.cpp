// Bringing every file of the list up to date.
#include "engine/SyncEngine.h"

#include "app/ProgramDir.h"
#include "diag/MyLog.h"
#include "engine/ProxyRefusal.h"
#include "platform/FileSystem.h"
#include "platform/Path.h"
#include "transfer/ServerFailOver.h"
#include "transfer/Transfer.h"
#include "updatelist/StringUtil.h"

#include <algorithm>
#include <cstdio>

namespace {

// The text of a failed download's error row, by the result code.
std::string DownloadFailureText(const std::string& serverFile, int r) {
    static const char* const reasons[] = {
        "다운로드 서버와 연결 실패",
        "해당 파일이 없음",
        "로컬 파일 열기 실패(파일 읽기 모드 속성 확인)",
        "파일내용의 일부만 다운로드됨",
        "파일 수정 시간 정보 변경 실패",
        "통신 에러 발생",
        "사용자의 중지 요청",
        "파일 무결성 확인 실패",
    };
    const int index = -r - 1;
    const char* reason = index >= 0 && index < 8 ? reasons[index] : "알 수 없는 오류";
    return serverFile + " 파일 다운로드 실패(" + std::to_string(r) + ") : " + reason;
}

std::string DisplayName(const std::string& serverFile) {
    const std::size_t slash = serverFile.rfind('/');
    return slash == std::string::npos ? serverFile : serverFile.substr(slash + 1);
}

} // namespace

void CSyncEngine::LogConnectionsSetting() {
    const std::string& text = m_pConfig->m_strConnections;
    if (text.empty() || text == std::to_string(m_pConfig->m_nConnections))
        return;
    WriteLog(g_pMyLog, 3,
             "CSyncEngine::DownloadFilesInListFromServer> CONNECTIONS = [%s] Is Not 1 To 8, Using "
             "%d",
             text.c_str(), m_pConfig->m_nConnections);
}

std::string CSyncEngine::ItemUrl(const DownFileItem& item) const {
    return ReplaceAll(m_pConfig->m_strDownloadBaseUrl + "/" + item.m_strServerFile, "\\", "/");
}

void CSyncEngine::PipelineItemHeads() {
    m_connection.m_pHeadAnswers.reset();
    if (ConnectionCount() < 2 || m_connection.Http() == nullptr)
        return;
    // Asked for below the server's base; known by the paths that GetServerFileInfo looks up.
    std::vector<std::string> paths;
    std::vector<std::string> keys;
    for (const auto& item : m_DownFileItemList) {
        if (!item->HasListedInfo()) {
            paths.push_back(m_connection.RequestPath(ItemUrl(*item)));
            keys.push_back(m_connection.Encode(ItemUrl(*item)));
        }
    }
    std::vector<plat::HttpHeadAnswer> answers;
    // With the run's own connection, which stays open, CONNECTIONS in all.
    if (paths.size() < 2 || !m_connection.Http()->PipelineHeads(paths, kAcceptTypes,
                                                                {"Last-Modified", "Content-Length"},
                                                                ConnectionCount() - 1, answers))
        return;
    auto known = std::make_shared<CSyncConnection::CHeadAnswers>();
    std::string time;
    std::string size;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        const plat::HttpHeadAnswer& answer = answers[i];
        if (answer.nStatus == 200 && answer.QueryHeader("Last-Modified", time) &&
            answer.QueryHeader("Content-Length", size))
            known->emplace(keys[i], std::make_pair(time, size));
    }
    WriteLog(g_pMyLog, 1,
             "CSyncEngine::DownloadFilesInListFromServer> Pipelined HEAD Answers = %d Of %d",
             static_cast<int>(known->size()), static_cast<int>(paths.size()));
    m_connection.m_pHeadAnswers = std::move(known);
}

void CSyncEngine::AddFormattedRow(int nKind, const std::string& text) {
    m_strStatusMsg = text;
    View().AddStatusRow(nKind, m_strStatusMsg);
}

int CSyncEngine::WithRetries(CItemLane& lane, const std::string& what, bool bGet,
                             const std::function<int()>& attempt) {
    constexpr int kRetryDelayMaxS = 30;
    const int nRetries = m_pMode->Retries(*this);
    for (int nAttempt = 0;; ++nAttempt) {
        const int r = attempt();
        const int nStatus = lane.conn.m_nLastHttpStatus;
        // With mirrors, the fault of a server took the request to every other one already.
        if (ServersExhausted(lane.conn, r, bGet))
            return r;
        const bool bStatusTransient = nStatus == 0 || nStatus >= 500;
        const bool bTransient =
            bGet ? (r == -1 || r == -4 || r == -6 || (r == -2 && bStatusTransient))
                 : (r == -1 || r == -9 || ((r == -2 || r == -5) && bStatusTransient));
        if (r >= 0 || !bTransient || nAttempt >= nRetries || lane.stop != 0)
            return r;
        const int nDelayS = std::min(1 << std::min(nAttempt, 5), kRetryDelayMaxS);
        WriteLog(g_pMyLog, 3,
                 "CSyncEngine::RetryTransfer> %s Failed, RetVal = %d, Status = %d, Retry %d Of %d "
                 "In %d s",
                 what.c_str(), r, nStatus, nAttempt + 1, nRetries, nDelayS);
        for (int nWaited = 0; nWaited < nDelayS * 1000 && lane.stop == 0; nWaited += 50)
            plat::SleepMs(50);
        if (lane.stop != 0)
            return r;
    }
}

// Asks the server for an item's time and size; true when they are known afterwards.
bool CSyncEngine::FetchItemServerInfo(CItemLane& lane, DownFileItem& item) {
    const std::string url = ItemUrl(item);
    WriteLog(g_pMyLog, 1, "CSyncEngine::DownloadFilesInListFromServer> URL = %s", url.c_str());
    std::string strTime;
    int nSize = 0;
    const int r = WithRetries(lane, item.m_strServerFile, false,
                              [&] { return GetServerFileInfo(lane.conn, url, strTime, nSize); });
    if (r == 0) {
        item.m_strFileSize = std::to_string(nSize);
        item.m_strModifyTime = strTime;
        WriteLog(g_pMyLog, 1,
                 "CSyncEngine::DownloadOneFileFromServer> Server File ModifyTime = %s, FileSize = "
                 "%s",
                 item.m_strModifyTime.c_str(), item.m_strFileSize.c_str());
        return true;
    }
    WriteLog(g_pMyLog, 4,
             "CSyncEngine::DownloadOneFileFromServer> GetServerFileInfo() Fail, RetVal = %d", r);
    lane.View().AddStatusRow(kStatusError,
                             item.m_strServerFile +
                                 " 파일 버전 정보 추출 실패(에러코드 : " + std::to_string(r) + ")");
    NoteProxyRefusal(*m_pConfig, lane, m_runCause);
    return false;
}

bool CSyncEngine::ReportFailedDownload(CItemLane& lane, DownFileItem& item, int r) {
    item.m_nSyncOkFlag = 0;
    if (lane.stop == CItemLane::kStopWithdrawn)
        return false; // another connection takes the item again
    WriteLog(g_pMyLog, 1,
             "CSyncEngine::DownloadFilesInListFromServer> DownloadOneFileFromServer() Fail, "
             "RetVal = %d",
             r);
    lane.View().AddStatusRow(kStatusError, DownloadFailureText(item.m_strServerFile, r));
    if (!NoteProxyRefusal(*m_pConfig, lane, m_runCause))
        m_runCause.Fail(r == -8 ? "hash" : "download",
                        item.m_strServerFile + " (" + std::to_string(r) + ")");
    return true;
}

bool CSyncEngine::DeleteLocalFile(const std::string& path, const char* pszWho, int nLevel,
                                  bool bQuietWhenMissing) {
    if (plat::RemoveFile(path))
        return true;
    const int nError = plat::LastErrorCode();
    if (bQuietWhenMissing && nError == plat::kErrFileNotFound)
        return false;
    WriteLog(g_pMyLog, nLevel, "%s> DeleteFile(%s) Error, ErrCode = %d", pszWho, path.c_str(),
             nError);
    plat::SetLastErrorCode(nError);
    CMyLog::LogLastErrorText();
    return false;
}

void CSyncEngine::ShowTotal(CSyncView& view, int n, int nCount) {
    view.SetTotalPos(n);
    if (nCount != 0)
        view.SetTotalText(TotalProgressText(n, nCount));
}

void CSyncEngine::ShowFileName(CSyncView& view, const DownFileItem& item) {
    std::string size;
    FormatWithCommas(item.m_strFileSize, size);
    view.SetFileNameText(DisplayName(item.m_strServerFile) + " (크기 : " + size + ")");
}

int CSyncEngine::DecideItem(CItemLane& lane, DownFileItem& item, int n, int nCount,
                            const CTargetCheck* pKnown, bool bClearBeside) {
    ShowTotal(lane.View(), n, nCount);
    bool bInfoKnown = true;
    if (!item.HasListedInfo())
        bInfoKnown = FetchItemServerInfo(lane, item);
    ShowFileName(lane.View(), item);
    if (!bInfoKnown) {
        item.m_nSyncOkFlag = 1; // the local file stays and the later steps still use it
        return -1;
    }
    const bool bCurrent = IsFileToDownload(item, pKnown) != 1;
    if (m_leftOvers.Possible() && (bCurrent || bClearBeside))
        m_leftOvers.RemoveBeside(item.m_strTargetFile);
    if (bCurrent) {
        item.m_nSyncOkFlag = 1;
        return 0;
    }
    return 1;
}

std::string CSyncEngine::LeftOverMarkerPath() const {
    return plat::JoinPath(plat::JoinPath(m_pConfig->m_strLocalBaseDir, g_pszConfigFolder),
                          "KestrelSync.downloads");
}

bool CSyncEngine::SyncOneItem(CItemLane& lane, DownFileItem& item, int n, int nCount) {
    const int d = DecideItem(lane, item, n, nCount, nullptr, false);
    if (d <= 0)
        return d == 0;
    m_leftOvers.MarkPossible();
    const int r = DownloadOneFileFromServer(lane, item);
    if (r >= 0) {
        item.m_nSyncOkFlag = 1;
        ++m_nDownloadedFiles;
        m_nDownloadedBytes += AtoiValue(item.m_strFileSize);
        return true;
    }
    if (!ReportFailedDownload(lane, item, r))
        return false;
    // What the failed download left in the target's place goes.
    WriteLog(g_pMyLog, 3, "CSyncEngine::DownloadFilesInListFromServer> Delete Local Flle = %s",
             item.m_strTargetFile.c_str());
    DeleteLocalFile(item.m_strTargetFile, "CSyncEngine::DownloadFilesInListFromServer", 4, true);
    return false;
}

int CSyncEngine::DownloadFilesInListFromServer() {
    WriteLog(g_pMyLog, 1,
             "CSyncEngine::DownloadFilesInListFromServer> Start Download From Server(%s, %d)",
             m_pConfig->m_strServerIp.c_str(), m_pConfig->m_nServerPort);
    View().SetFileNameText("");
    View().SetStepText("서버로부터 파일 다운로드 중...");
    const int nCount = static_cast<int>(m_DownFileItemList.size());
    View().SetTotalRange(0, nCount);
    WriteLog(g_pMyLog, 1, "CSyncEngine::DownloadFilesInListFromServer> Total File Count = %d",
             nCount);
    m_leftOvers.Begin(LeftOverMarkerPath());
    try {
        LogConnectionsSetting();
        bool bAllDone = false;
        const int nResult = m_pMode->DownloadFiles(*this, bAllDone);
        m_connection.m_pHeadAnswers.reset(); // they answered this pass's items only
        if (m_nRequestStopFlag == 0)
            m_leftOvers.End(bAllDone);
        return nResult;
    } catch (const plat::CHttpError& error) {
        m_connection.m_pHeadAnswers.reset();
        const std::string text = HttpErrorText(error);
        WriteLog(g_pMyLog, 1, "CSyncEngine::DownloadFilesInListFromServer> Error : %s",
                 text.c_str());
        AddFormattedRow(kStatusError, "프로그램 장애 : " + text);
        return -2;
    }
}
