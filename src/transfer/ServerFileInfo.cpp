// Server file information by HEAD, URL encoding and HTTP dates.
#include "engine/SyncEngine.h"

#include "diag/MyLog.h"
#include "platform/LocalTime.h"
#include "platform/Text.h"
#include "transfer/HttpDate.h"
#include "transfer/Transfer.h"

#include <cstdio>
#include <cstring>
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

namespace {

std::string EscapeBytes(const std::string& strText, const char* pszAlsoEscaped) {
    static const char* const hex = "0123456789ABCDEF";
    std::string out;
    out.reserve(strText.size());
    for (const char c : strText) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80 && (c == '\0' || std::strchr(pszAlsoEscaped, c) == nullptr)) {
            out += c;
        } else {
            out += '%';
            out += hex[byte >> 4];
            out += hex[byte & 0x0F];
        }
    }
    return out;
}

} // namespace

std::string CSyncEngine::EncodeUrl(const std::string& strText) {
    return EscapeBytes(strText, "");
}

std::string CSyncEngine::EncodeUrlReserved(const std::string& strText) {
    return EscapeBytes(strText, "%?#");
}

std::int64_t CSyncEngine::ParseHttpDate(const std::string& strText) {
    const auto tNow = static_cast<std::int64_t>(std::time(nullptr));
    return ParseHttpDateAt(strText, plat::GetLocalNow(), tNow);
}

int CSyncEngine::GetServerFileInfo(const std::string& strObjectPath, std::string& strModifyTime,
                                   int& nFileSize) {
    const std::string encoded = m_pfnEncodeUrl(strObjectPath);
    if (m_pHeadAnswers != nullptr) {
        const auto known = m_pHeadAnswers->find(encoded);
        if (known != m_pHeadAnswers->end()) {
            m_nLastHttpStatus = 200;
            strModifyTime = FormatModifyTime(ParseHttpDate(known->second.first));
            nFileSize = AtoiValue(known->second.second);
            return 0;
        }
    }
    try {
        std::unique_ptr<plat::CHttpRequest> request =
            m_pConnection != nullptr ? m_pConnection->OpenRequest("HEAD", encoded, kAcceptTypes)
                                     : nullptr;
        if (request == nullptr)
            return -1;
        ++m_nRequestsSent;
        request->Send();
        LogRedirects(*request, "CSyncEngine::GetServerFileInfo");
        int nStatus = 0;
        m_nLastHttpStatus = 0;
        if (!request->QueryStatusCode(nStatus)) {
            WriteLog(g_pMyLog, 4,
                     "CSyncEngine::GetServerFileInfo> QueryInfoStatusCode() Return = %d", 0);
            return -2;
        }
        m_nLastHttpStatus = nStatus;
        ++m_nResponses;
        if (nStatus != 200) {
            WriteLog(g_pMyLog, 4, "CSyncEngine::GetServerFileInfo> File(%s) dwStatusCode = %d",
                     strObjectPath.c_str(), nStatus);
            return -5;
        }
        std::string text;
        if (!request->QueryHeader("Last-Modified", text))
            return -3;
        strModifyTime = FormatModifyTime(ParseHttpDate(text));
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
