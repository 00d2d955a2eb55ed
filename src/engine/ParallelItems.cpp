// Items on several connections at once (CONNECTIONS = N): the worker engines with their
// connections, handed to the item scheduler.
#include "engine/SyncEngine.h"

#include "engine/ItemScheduler.h"

#include <utility>

int CSyncEngine::ConnectionCount() const {
    return m_pConfig != nullptr ? m_pConfig->m_nConnections : 1;
}

int CSyncEngine::ForEachItem(int nCount,
                             const std::function<bool(CSyncEngine& engine, int nIndex)>& job,
                             const std::function<void(int nIndex, bool bOk)>& report,
                             const std::function<std::string(int nIndex)>& targetOf) {
    // Worker engines: the same settings and mode, a connection each.
    std::vector<std::unique_ptr<CSyncEngine>> workers;
    for (int i = 0; ConnectionCount() > 1 && i < ConnectionCount() && i < nCount; ++i) {
        auto worker = std::make_unique<CSyncEngine>();
        worker->m_httpTimeouts = m_httpTimeouts;
        if (worker->InitSyncEngine(m_pConfig) < 0)
            break;
        worker->m_bTrusted = m_bTrusted;
        worker->m_pfnEncodeUrl = m_pfnEncodeUrl;
        worker->m_bLeftOversPossible = m_bLeftOversPossible;
        worker->m_pHeadAnswers = m_pHeadAnswers;
        workers.push_back(std::move(worker));
    }
    // The first worker goes on on this engine's connection: N connections in all.
    struct CLend {
        CSyncEngine& owner;
        CSyncEngine* pWorker;
        ~CLend() {
            if (pWorker != nullptr) {
                std::swap(owner.m_pConnection, pWorker->m_pConnection);
                std::swap(owner.m_pSession, pWorker->m_pSession);
            }
        }
    } lend{*this, workers.size() > 1 ? workers[0].get() : nullptr};
    if (lend.pWorker != nullptr) {
        std::swap(m_pConnection, lend.pWorker->m_pConnection);
        std::swap(m_pSession, lend.pWorker->m_pSession);
    }
    if (workers.size() <= 1) {
        // One connection: this engine's own, item after item, until a stop.
        for (int i = 0; i < nCount; ++i) {
            report(i, job(*this, i));
            if (m_nRequestStopFlag != 0)
                return i + 1;
        }
        return nCount;
    }
    const int nReported = CItemScheduler(*this, workers, job, report, targetOf).Run(nCount);
    for (const auto& worker : workers) {
        m_nDownloadedFiles += worker->m_nDownloadedFiles;
        m_nDownloadedBytes += worker->m_nDownloadedBytes;
        m_bLeftOverMarked = m_bLeftOverMarked || worker->m_bLeftOverMarked;
        m_nLeftOversKept += worker->m_nLeftOversKept;
    }
    return nReported;
}
