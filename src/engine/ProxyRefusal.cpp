#include "engine/ProxyRefusal.h"

#include "config/ProxySettings.h"
#include "config/SyncConfig.h"
#include "diag/MyLog.h"
#include "engine/RunReport.h"
#include "transfer/ItemLane.h"
#include "transfer/SyncConnection.h"

bool NoteProxyRefusal(const CSyncConfig& config, const CSyncConnection& conn, CRunCause& cause,
                      const std::function<void(const std::string&)>& addRow) {
    const int nStatus = conn.m_nLastHttpStatus;
    const std::string host = conn.Server().strHost;
    const bool bFixed = plat::ProxyFor(config.m_proxy, host);
    if (nStatus != 407 && !(bFixed && (nStatus == 403 || nStatus == 0)))
        return false;
    const std::string name = ProxyName(config.m_proxy, host);
    const std::string status = nStatus == 0 ? "no answer" : "status " + std::to_string(nStatus);
    WriteLog(g_pMyLog, 4, "SyncThreadMain> The proxy refused the request: %s, %s", name.c_str(),
             status.c_str());
    addRow((nStatus == 407 ? "프록시 인증 실패(" : "프록시 오류(") + name + ", " + status + ")");
    cause.Fail(nStatus == 407 ? "proxy-auth" : "proxy", name + ": " + status);
    return true;
}

bool NoteProxyRefusal(const CSyncConfig& config, const CItemLane& lane, CRunCause& cause) {
    if (lane.stop != 0)
        return false;
    return NoteProxyRefusal(config, lane.conn, cause, [&](const std::string& row) {
        lane.View().AddStatusRow(kStatusError, row);
    });
}
