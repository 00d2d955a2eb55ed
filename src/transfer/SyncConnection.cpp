#include "transfer/SyncConnection.h"

#include "diag/MyLog.h"
#include "transfer/Transfer.h"

#include <algorithm>
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

int CSyncConnection::Open(const CSyncConfig& config, const plat::HttpTimeouts& timeouts,
                          std::shared_ptr<CServerList> pServers) {
    m_pConnection.reset();
    m_pServers = pServers != nullptr ? std::move(pServers) : std::make_shared<CServerList>(config);
    m_nServer = std::min(m_pServers->FirstUsable(), m_pServers->Count() - 1);
    m_bHttps = config.m_bUseHttps;
    m_pStopFlag = timeouts.pStopFlag;
    plat::HttpTimeouts withProxy = timeouts;
    withProxy.proxy = config.m_proxy;
    m_pSession = plat::OpenHttpSession(kAgentName, withProxy);
    if (m_pSession != nullptr && UseServer(m_nServer))
        return 0;
    WriteLog(g_pMyLog, 1,
             "CCobaltSyncEngine::DownloadListFileFromServer> GetHttpConnection(%s, %d) returns "
             "NULL",
             Server().strHost.c_str(), Server().nPort);
    return -1;
}

const CServerAddress& CSyncConnection::Server() const {
    static const CServerAddress none;
    return m_pServers != nullptr ? m_pServers->At(m_nServer) : none;
}

bool CSyncConnection::UseServer(std::size_t n) {
    if (n == m_nServer && m_pConnection != nullptr)
        return true;
    m_pConnection.reset();
    m_nServer = n;
    if (m_pSession == nullptr)
        return false;
    // The port is a 16-bit number where it reaches the HTTP layer.
    const auto port = static_cast<std::uint16_t>(Server().nPort);
    m_pConnection = m_pSession->Connect(Server().strHost, port, m_bHttps);
    return m_pConnection != nullptr;
}

void CSyncConnection::Adopt(std::unique_ptr<plat::CHttpConnection> pConnection) {
    m_pConnection = std::move(pConnection);
}

std::unique_ptr<plat::CHttpRequest> CSyncConnection::OpenRequest(const char* pszVerb,
                                                                 const std::string& strPath) const {
    if (m_pConnection == nullptr)
        return nullptr;
    return m_pConnection->OpenRequest(pszVerb, RequestPath(strPath), kAcceptTypes);
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
