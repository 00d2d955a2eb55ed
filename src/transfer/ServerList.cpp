#include "transfer/ServerList.h"

#include "config/SyncConfig.h"
#include "diag/MyLog.h"
#include "platform/HttpProxy.h"
#include "updatelist/StringUtil.h"

#include <utility>

namespace {

// "host:port[/base]" into address; false when it does not parse.
bool ParseEntry(const std::string& entry, CServerAddress& address) {
    const std::size_t slash = entry.find('/');
    if (!plat::ParseHostPort(entry.substr(0, slash), address.strHost, address.nPort))
        return false;
    address.strBase = slash == std::string::npos ? "" : entry.substr(slash);
    while (!address.strBase.empty() && address.strBase.back() == '/')
        address.strBase.pop_back();
    for (const char c : address.strBase) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte == 0x7F || c == '?' || c == '#' || c == '\\')
            return false;
    }
    return true;
}

} // namespace

std::string CServerAddress::Name() const {
    const bool bIpv6 = strHost.find(':') != std::string::npos;
    return (bIpv6 ? "[" + strHost + "]" : strHost) + ":" + std::to_string(nPort) + strBase;
}

std::vector<CServerAddress> ParseMirrors(const std::string& text,
                                         std::vector<std::string>* pRejected) {
    std::vector<CServerAddress> mirrors;
    std::size_t begin = 0;
    while (begin <= text.size()) {
        std::size_t end = text.find(';', begin);
        if (end == std::string::npos)
            end = text.size();
        const std::string entry = TrimWhite(text.substr(begin, end - begin));
        CServerAddress address;
        if (!entry.empty() && ParseEntry(entry, address))
            mirrors.push_back(address);
        else if (!entry.empty() && pRejected != nullptr)
            pRejected->push_back(entry);
        begin = end + 1;
    }
    return mirrors;
}

CServerList::CServerList(const CSyncConfig& config)
    : CServerList(CServerAddress{config.m_strServerIp, config.m_nServerPort, ""},
                  ParseMirrors(config.m_strMirrors)) {}

CServerList::CServerList(CServerAddress main, std::vector<CServerAddress> mirrors)
    : m_pFailed(new std::atomic<bool>[mirrors.size() + 1]) {
    m_servers.push_back(std::move(main));
    for (CServerAddress& mirror : mirrors)
        m_servers.push_back(std::move(mirror));
    for (std::size_t n = 0; n < m_servers.size(); ++n)
        m_pFailed[n] = false;
}

std::size_t CServerList::FirstUsable() const {
    std::size_t n = 0;
    while (n < m_servers.size() && m_pFailed[n].load())
        ++n;
    return n;
}

void CServerList::MarkFailed(std::size_t n, const std::string& why) {
    if (m_pFailed[n].exchange(true))
        return;
    const std::size_t next = FirstUsable();
    WriteLog(g_pMyLog, 3, "CSyncConnection::FailOver> Server(%s) Failed, %s, Next Server = %s",
             m_servers[n].Name().c_str(), why.c_str(),
             next < m_servers.size() ? m_servers[next].Name().c_str() : "none");
}

void CServerList::SetListServer(std::size_t n) {
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_strListServer = n < m_servers.size() ? m_servers[n].Name() : "";
}

std::string CServerList::ListServerName() const {
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_strListServer;
}

void LogMirrorsSetting(const CSyncConfig& config) {
    std::vector<std::string> rejected;
    const std::vector<CServerAddress> mirrors = ParseMirrors(config.m_strMirrors, &rejected);
    for (const std::string& entry : rejected)
        WriteLog(g_pMyLog, 3, "SyncThreadMain> MIRRORS Entry [%s] Is Not host:port[/base], Skipped",
                 entry.c_str());
    if (mirrors.empty())
        return;
    std::string names = CServerAddress{config.m_strServerIp, config.m_nServerPort, ""}.Name();
    for (const CServerAddress& mirror : mirrors)
        names += "; " + mirror.Name();
    WriteLog(g_pMyLog, 2, "SyncThreadMain> Servers = %s", names.c_str());
}

EServerFault ServerFaultOf(int r, int nStatus, bool bGet) {
    const bool bStatusFault = nStatus == 0 || nStatus >= 500;
    if (bGet && (r == -4 || r == -8)) // a short body, a content of another hash
        return EServerFault::kWrongContent;
    // No request, a status that is the server's fault, a transport error.
    const bool bUnreachable = bGet ? r == -1 || (r == -2 && bStatusFault) || r == -6
                                   : r == -1 || ((r == -2 || r == -5) && bStatusFault) || r == -9;
    return bUnreachable ? EServerFault::kUnreachable : EServerFault::kNone;
}
