// Bringing every file of the list up to date.
#include "engine/SyncEngine.h"

#include "app/ProgramDir.h"
#include "diag/MyLog.h"
#include "platform/FileSystem.h"
#include "platform/Path.h"
#include "transfer/Transfer.h"
#include "updatelist/StringUtil.h"

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
    m_pHeadAnswers.reset();
    if (ConnectionCount() < 2 || m_pConnection == nullptr)
        return;
    std::vector<std::string> paths;
    for (const auto& item : m_DownFileItemList) {
        if (item->m_strFileSize.empty() || item->m_strModifyTime.empty())
            paths.push_back(m_pfnEncodeUrl(ItemUrl(*item)));
    }
    std::vector<plat::HttpHeadAnswer> answers;
    // With the run's own connection, which stays open, CONNECTIONS in all.
    if (paths.size() < 2 ||
        !m_pConnection->PipelineHeads(paths, kAcceptTypes, {"Last-Modified", "Content-Length"},
                                      ConnectionCount() - 1, answers))
        return;
    auto known = std::make_shared<CHeadAnswers>();
    std::string time;
    std::string size;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        const plat::HttpHeadAnswer& answer = answers[i];
        if (answer.nStatus == 200 && answer.QueryHeader("Last-Modified", time) &&
            answer.QueryHeader("Content-Length", size))
            known->emplace(paths[i], std::make_pair(time, size));
    }
    WriteLog(g_pMyLog, 1,
             "CSyncEngine::DownloadFilesInListFromServer> Pipelined HEAD Answers = %d Of %d",
             static_cast<int>(known->size()), static_cast<int>(paths.size()));
    m_pHeadAnswers = std::move(known);
}

void CSyncEngine::AddFormattedRow(int nKind, const std::string& text) {
    m_strStatusMsg = text;
    View().AddStatusRow(nKind, m_strStatusMsg);
}

// Asks the server for an item's time and size; true when they are known afterwards.
bool CSyncEngine::FetchItemServerInfo(DownFileItem& item) {
    const std::string url = ItemUrl(item);
    WriteLog(g_pMyLog, 1, "CSyncEngine::DownloadFilesInListFromServer> URL = %s", url.c_str());
    std::string strTime;
    int nSize = 0;
    const int r = WithRetries(item.m_strServerFile, false,
                              [&] { return GetServerFileInfo(url, strTime, nSize); });
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
    AddFormattedRow(kStatusError, item.m_strServerFile + " 파일 버전 정보 추출 실패(에러코드 : " +
                                      std::to_string(r) + ")");
    return false;
}

// Reports a failed download and deletes what it left.
void CSyncEngine::HandleFailedDownload(DownFileItem& item, int r) {
    item.m_nSyncOkFlag = 0;
    if (m_nRequestStopFlag == kStopWithdrawn)
        return; // another connection takes the item again
    WriteLog(g_pMyLog, 1,
             "CSyncEngine::DownloadFilesInListFromServer> DownloadOneFileFromServer() Fail, "
             "RetVal = %d",
             r);
    AddFormattedRow(kStatusError, DownloadFailureText(item.m_strServerFile, r));
    if (m_bTrusted)
        return; // the local file was never touched and keeps its old content
    WriteLog(g_pMyLog, 3, "CSyncEngine::DownloadFilesInListFromServer> Delete Local Flle = %s",
             item.m_strTargetFile.c_str());
    DeleteLocalFile(item.m_strTargetFile, "CSyncEngine::DownloadFilesInListFromServer", 4, true);
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

void CSyncEngine::ShowTotal(int n, int nCount) {
    View().SetTotalPos(n);
    if (nCount != 0)
        View().SetTotalText(TotalProgressText(n, nCount));
}

void CSyncEngine::ShowFileName(const DownFileItem& item) {
    std::string size;
    FormatWithCommas(item.m_strFileSize, size);
    View().SetFileNameText(DisplayName(item.m_strServerFile) + " (크기 : " + size + ")");
}

int CSyncEngine::DecideItem(DownFileItem& item, int n, int nCount, const CTargetCheck* pKnown) {
    ShowTotal(n, nCount);
    bool bInfoKnown = true;
    if (item.m_strFileSize.empty() || item.m_strModifyTime.empty())
        bInfoKnown = FetchItemServerInfo(item);
    ShowFileName(item);
    if (!bInfoKnown) {
        item.m_nSyncOkFlag = 1; // the local file stays and the later steps still use it
        return -1;
    }
    const bool bCurrent = IsFileToDownload(item, pKnown) != 1;
    // Trusted mode never writes beside a target: what lies there an ended run left.
    if (m_bLeftOversPossible && (bCurrent || m_bTrusted))
        RemoveLeftOverDownload(item.m_strTargetFile);
    if (bCurrent) {
        item.m_nSyncOkFlag = 1;
        return 0;
    }
    return 1;
}

void CSyncEngine::RemoveLeftOverDownload(const std::string& strTargetFile) {
    const std::string temp = DownloadTempPath(strTargetFile);
    const std::size_t sep = plat::LastSepPos(temp);
    const std::string folder = sep == std::string::npos ? std::string() : temp.substr(0, sep);
    auto found = m_leftOverFolders.find(folder);
    if (found == m_leftOverFolders.end()) {
        std::vector<plat::FoundFile> files;
        const std::string pattern = "*" + DownloadTempPath(std::string());
        bool bMay = plat::FindFiles(
            sep == std::string::npos ? pattern : plat::JoinPath(folder, pattern), files);
        if (!bMay) {
            // A folder that cannot be listed for another reason is treated as holding some.
            const int nError = plat::LastErrorCode();
            bMay = nError != plat::kErrFileNotFound && nError != plat::kErrPathNotFound;
        }
        found = m_leftOverFolders.emplace(folder, bMay).first;
    }
    if (found->second && !plat::RemoveLeftOverFile(temp)) {
        plat::FileStatus status;
        if (plat::GetFileStatus(temp, status))
            ++m_nLeftOversKept;
    }
}

std::string CSyncEngine::LeftOverMarkerPath() const {
    return plat::JoinPath(plat::JoinPath(m_pConfig->m_strLocalBaseDir, g_pszConfigFolder),
                          "KestrelSync.downloads");
}

void CSyncEngine::BeginLeftOverCheck() {
    plat::FileStatus status;
    if (plat::GetFileStatus(LeftOverMarkerPath(), status)) {
        m_bLeftOversPossible = true;
    } else {
        const int nError = plat::LastErrorCode();
        m_bLeftOversPossible = nError != plat::kErrFileNotFound && nError != plat::kErrPathNotFound;
    }
    m_bLeftOverMarked = false;
    m_nLeftOversKept = 0;
}

void CSyncEngine::MarkLeftOversPossible() {
    if (m_bLeftOverMarked)
        return;
    m_bLeftOverMarked = true;
    // Without the marker (a folder that cannot be written) a temporary file that an ended
    // process leaves is only wasted room: the next download of its item overwrites it.
    const std::string marker = LeftOverMarkerPath();
    plat::CreateFolder(marker.substr(0, plat::LastSepPos(marker)));
    if (std::FILE* fp = plat::OpenFile(marker, "ab"))
        std::fclose(fp);
}

void CSyncEngine::EndLeftOverCheck(bool bAllItemsDone) {
    if ((m_bLeftOversPossible || m_bLeftOverMarked) && bAllItemsDone && m_nLeftOversKept == 0 &&
        m_nRequestStopFlag == 0)
        plat::RemoveLeftOverFile(LeftOverMarkerPath());
}

// Brings one item up to date; false when it failed.
bool CSyncEngine::SyncOneItem(DownFileItem& item, int n, int nCount) {
    const int d = DecideItem(item, n, nCount);
    if (d <= 0)
        return d == 0;
    MarkLeftOversPossible();
    const int r = DownloadOneFileFromServer(item, n, nCount);
    if (r >= 0) {
        item.m_nSyncOkFlag = 1;
        ++m_nDownloadedFiles;
        m_nDownloadedBytes += AtoiValue(item.m_strFileSize);
        return true;
    }
    HandleFailedDownload(item, r);
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
    int nResult = 1;
    BeginLeftOverCheck();
    try {
        LogConnectionsSetting();
        if (m_bTrusted) {
            nResult = DownloadFilesTrusted();
            EndLeftOverCheck(nResult == 1);
            return nResult;
        }
        PipelineItemHeads();
        const int nReported = ForEachItem(
            nCount,
            [this, nCount](CSyncEngine& engine, int i) {
                return engine.SyncOneItem(*m_DownFileItemList[static_cast<std::size_t>(i)], i + 1,
                                          nCount);
            },
            [&nResult](int, bool bOk) {
                if (!bOk)
                    nResult = 0;
            },
            [this](int i) {
                return m_DownFileItemList[static_cast<std::size_t>(i)]->m_strTargetFile;
            });
        m_pHeadAnswers.reset(); // they answered this loop's items only
        if (m_nRequestStopFlag != 0)
            WriteLog(g_pMyLog, 1,
                     "CSyncEngine::DownloadFilesInListFromServer> m_nRequestStopFlag = %d",
                     m_nRequestStopFlag.load());
        EndLeftOverCheck(nResult == 1 && nReported == nCount);
    } catch (const plat::CHttpError& error) {
        m_pHeadAnswers.reset();
        const std::string text = HttpErrorText(error);
        WriteLog(g_pMyLog, 1, "CSyncEngine::DownloadFilesInListFromServer> Error : %s",
                 text.c_str());
        AddFormattedRow(kStatusError, "프로그램 장애 : " + text);
        return -2;
    }
    return nResult;
}
