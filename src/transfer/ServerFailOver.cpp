#include "transfer/ServerFailOver.h"

#include "diag/MyLog.h"

namespace {

// The first server after n that has not failed; Count() when none.
std::size_t NextUsable(const CServerList& servers, std::size_t n) {
    while (++n < servers.Count() && servers.Failed(n)) {
    }
    return n;
}

} // namespace

int OnServers(CSyncConnection& conn, const std::string& what, bool bGet,
              const std::function<int()>& attempt) {
    const std::shared_ptr<CServerList>& pServers = conn.Servers();
    if (pServers == nullptr || !pServers->HasMirrors())
        return attempt();
    CServerList& servers = *pServers;
    int r = -1;
    for (std::size_t n = servers.FirstUsable(); n < servers.Count(); n = NextUsable(servers, n)) {
        if (!conn.UseServer(n)) {
            servers.MarkFailed(n, "no connection could be made");
            continue;
        }
        r = attempt();
        if (r >= 0 || conn.Stopped())
            return r;
        const int nStatus = conn.m_nLastHttpStatus;
        const EServerFault fault = ServerFaultOf(r, nStatus, bGet);
        if (fault == EServerFault::kNone)
            return r;
        const std::string why =
            what + ", RetVal = " + std::to_string(r) + ", Status = " + std::to_string(nStatus);
        if (fault == EServerFault::kUnreachable)
            servers.MarkFailed(n, why);
        else
            WriteLog(g_pMyLog, 3,
                     "CSyncConnection::FailOver> Server(%s) Sent Another Content, %s, Trying The "
                     "Next Server",
                     servers.At(n).Name().c_str(), why.c_str());
    }
    if (servers.FirstUsable() == servers.Count())
        WriteLog(g_pMyLog, 4, "CSyncConnection::FailOver> %s, No Server Left", what.c_str());
    return r;
}

bool ServersExhausted(const CSyncConnection& conn, int r, bool bGet) {
    return conn.Servers() != nullptr && conn.Servers()->HasMirrors() &&
           ServerFaultOf(r, conn.m_nLastHttpStatus, bGet) != EServerFault::kNone;
}
