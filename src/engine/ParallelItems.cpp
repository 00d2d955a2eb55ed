// Items on several connections at once (CONNECTIONS = N): the lanes with their connections,
// handed to the item scheduler.
#include "engine/SyncEngine.h"

#include "engine/ItemScheduler.h"

#include <utility>

int CSyncEngine::ConnectionCount() const {
    return m_pConfig != nullptr ? m_pConfig->m_nConnections : 1;
}

int CSyncEngine::ForEachItem(int nCount,
                             const std::function<bool(CItemLane& lane, int nIndex)>& job,
                             const std::function<void(int nIndex, bool bOk)>& report,
                             const std::function<std::string(int nIndex)>& targetOf) {
    // Lanes with a connection each; the first goes on on the run's own connection: N
    // connections in all.
    std::vector<std::unique_ptr<CItemWorker>> workers;
    for (int i = 0; ConnectionCount() > 1 && i < ConnectionCount() && i < nCount; ++i) {
        auto worker = std::make_unique<CItemWorker>();
        worker->pConn = &m_connection;
        if (i > 0) {
            worker->pOwn = std::make_unique<CSyncConnection>();
            plat::HttpTimeouts timeouts = m_httpTimeouts;
            timeouts.pStopFlag = &worker->nStop;
            if (worker->pOwn->Open(*m_pConfig, timeouts, m_connection.Servers()) < 0)
                break;
            worker->pOwn->m_pfnEncode = m_connection.m_pfnEncode;
            worker->pOwn->m_pHeadAnswers = m_connection.m_pHeadAnswers;
            worker->pConn = worker->pOwn.get();
        }
        workers.push_back(std::move(worker));
    }
    if (workers.size() <= 1)
        return ForEachItemOnLane(nCount, job, report);
    return CItemScheduler(Lane(), workers, job, report, targetOf).Run(nCount);
}

int CSyncEngine::ForEachItemOnLane(int nCount,
                                   const std::function<bool(CItemLane& lane, int nIndex)>& job,
                                   const std::function<void(int nIndex, bool bOk)>& report) {
    CItemLane lane = Lane();
    for (int i = 0; i < nCount; ++i) {
        report(i, job(lane, i));
        if (m_nRequestStopFlag != 0)
            return i + 1;
    }
    return nCount;
}
