// Server file information by HEAD, URL encoding and HTTP dates.
#include "engine/SyncEngine.h"

#include "diag/MyLog.h"
#include "platform/LocalTime.h"
#include "platform/Text.h"
#include "transfer/HttpDate.h"
#include "transfer/ServerFailOver.h"
#include "transfer/Transfer.h"

#include <cstdio>
#include <ctime>

const char* const kAcceptTypes[] = {"image/gif",
                                    "image/x-xbitmap",
                                    "image/jpeg",
                                    "image/pjpeg",
                                    "application/x-shockwave-flash",
                                    "application/vnd.ms-excel",
                                    "application/vnd.ms-powerpoint",
                                    "application/msword",
                                    "*/*",
                                    nullptr};

std::string HttpErrorText(const plat::CHttpError& error) {
    const std::string text = error.what();
    return text.substr(0, plat::Utf8FitLength(text, kHttpErrorTextMax));
}

std::string CSyncEngine::EncodeUrl(const std::string& strText) {
    return CSyncConnection::EncodeUrlPath(strText);
}

std::string CSyncEngine::EncodeUrlReserved(const std::string& strText) {
    return CSyncConnection::EncodeUrlPathReserved(strText);
}

std::int64_t CSyncEngine::ParseHttpDate(const std::string& strText) {
    const auto tNow = static_cast<std::int64_t>(std::time(nullptr));
    return ParseHttpDateAt(strText, plat::GetLocalNow(), tNow);
}

int CSyncEngine::GetServerFileInfo(const std::string& strObjectPath, std::string& strModifyTime,
                                   int& nFileSize) {
    return GetServerFileInfo(m_connection, strObjectPath, strModifyTime, nFileSize);
}

namespace {

// One HEAD on the connection's server: the codes of GetServerFileInfo.
int AskServerFileInfo(CSyncConnection& conn, const std::string& strObjectPath,
                      std::string& strModifyTime, int& nFileSize) {
    try {
        std::unique_ptr<plat::CHttpRequest> request = conn.OpenRequest("HEAD", strObjectPath);
        if (request == nullptr)
            return -1;
        const int nStatus = conn.Send(*request, "CSyncEngine::GetServerFileInfo");
        if (nStatus == 0) {
            WriteLog(g_pMyLog, 4,
                     "CSyncEngine::GetServerFileInfo> QueryInfoStatusCode() Return = %d", 0);
            return -2;
        }
        if (nStatus != 200) {
            WriteLog(g_pMyLog, 4, "CSyncEngine::GetServerFileInfo> File(%s) dwStatusCode = %d",
                     strObjectPath.c_str(), nStatus);
            return -5;
        }
        std::string text;
        if (!request->QueryHeader("Last-Modified", text))
            return -3;
        strModifyTime = FormatModifyTime(CSyncEngine::ParseHttpDate(text));
        if (!request->QueryHeader("Content-Length", text))
            return -4;
        nFileSize = AtoiValue(text);
        return 0;
    } catch (const plat::CHttpError& error) {
        WriteLog(g_pMyLog, 4, "CCobaltSyncThread::GetServerFileInfo>> Exception Msg = %s",
                 HttpErrorText(error).c_str());
        return -9;
    }
}

} // namespace

int CSyncEngine::GetServerFileInfo(CSyncConnection& conn, const std::string& strObjectPath,
                                   std::string& strModifyTime, int& nFileSize) {
    if (conn.m_pHeadAnswers != nullptr) {
        const auto known = conn.m_pHeadAnswers->find(conn.Encode(strObjectPath));
        if (known != conn.m_pHeadAnswers->end()) {
            conn.m_nLastHttpStatus = 200;
            strModifyTime = FormatModifyTime(ParseHttpDate(known->second.first));
            nFileSize = AtoiValue(known->second.second);
            return 0;
        }
    }
    return OnServers(conn, strObjectPath, false, [&] {
        return AskServerFileInfo(conn, strObjectPath, strModifyTime, nFileSize);
    });
}

int CSyncEngine::GetItemServerFileInfo(DownFileItem& item) {
    const std::string path = m_pConfig->m_strDownloadBaseUrl + "/" + item.m_strServerFile;
    std::string strTime;
    int nSize = 0;
    const int r = GetServerFileInfo(path, strTime, nSize);
    if (r == 0) {
        item.m_strModifyTime = strTime;
        item.m_strFileSize = std::to_string(nSize);
    }
    return r;
}
