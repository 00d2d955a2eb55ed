#include "transfer/SyncConnection.h"

#include "diag/MyLog.h"
#include "transfer/Transfer.h"

#include <cstdint>
#include <cstring>

namespace {

const char* const kAgentName = "Vento";

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

std::string CSyncConnection::EncodeUrlPath(const std::string& strText) {
    return EscapeBytes(strText, "");
}

std::string CSyncConnection::EncodeUrlPathReserved(const std::string& strText) {
    return EscapeBytes(strText, "%?#");
}

int CSyncConnection::Open(const CSyncConfig& config, const plat::HttpTimeouts& timeouts) {
    m_pConnection.reset();
    plat::HttpTimeouts withProxy = timeouts;
    withProxy.proxy = config.m_proxy;
    m_pSession = plat::OpenHttpSession(kAgentName, withProxy);
    if (m_pSession != nullptr) {
        // The port is a 16-bit number where it reaches the HTTP layer.
        const auto port = static_cast<std::uint16_t>(config.m_nServerPort);
        m_pConnection = m_pSession->Connect(config.m_strServerIp, port, config.m_bUseHttps);
    }
    if (m_pConnection != nullptr)
        return 0;
    WriteLog(g_pMyLog, 1,
             "CCobaltSyncEngine::DownloadListFileFromServer> GetHttpConnection(%s, %d) returns "
             "NULL",
             config.m_strServerIp.c_str(), config.m_nServerPort);
    return -1;
}

void CSyncConnection::Adopt(std::unique_ptr<plat::CHttpConnection> pConnection) {
    m_pConnection = std::move(pConnection);
}

std::unique_ptr<plat::CHttpRequest> CSyncConnection::OpenRequest(const char* pszVerb,
                                                                 const std::string& strPath) const {
    if (m_pConnection == nullptr)
        return nullptr;
    return m_pConnection->OpenRequest(pszVerb, Encode(strPath), kAcceptTypes);
}

int CSyncConnection::Send(plat::CHttpRequest& request, const char* pszWho) {
    ++m_nRequestsSent;
    m_nLastHttpStatus = 0;
    request.Send();
    LogRedirects(request, pszWho);
    int nStatus = 0;
    if (!request.QueryStatusCode(nStatus))
        nStatus = 0;
    m_nLastHttpStatus = nStatus;
    m_nResponses += nStatus != 0 ? 1 : 0;
    return nStatus;
}
