// Items on several connections at once, reported in list order: workers (each with a lane of
// its own: a keep-alive connection, a stop flag and a view) take the items one after another, and
// what each item shows and logs is recorded and played back on the run's own view and log when it
// and every item before it are done, so that the screen and the log read as if the items had been
// handled one by one.
#pragma once

#include "transfer/ItemLane.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

class CSilenceWatch;

// One worker's lane: its own stop flag and view, and a connection (its own, or the run's that
// it goes on on).
struct CItemWorker {
    std::atomic<int> nStop{0};
    std::atomic<CSyncView*> pView{nullptr};
    std::unique_ptr<CSyncConnection> pOwn;
    CSyncConnection* pConn = nullptr;
    CItemLane Lane() { return CItemLane{*pConn, nStop, pView}; }
};

class CItemScheduler {
public:
    using Job = std::function<bool(CItemLane& lane, int nIndex)>;
    using Report = std::function<void(int nIndex, bool bOk)>;
    using TargetOf = std::function<std::string(int nIndex)>;

    // workers: two or more, each with a connection of its own; the first goes on on the
    // owner's connection, which has answered already. owner: the run's lane, whose view and
    // log take the reports and whose stop flag ends the taking. Items of one target
    // (targetOf, when set) are never in flight at once.
    CItemScheduler(const CItemLane& owner, const std::vector<std::unique_ptr<CItemWorker>>& workers,
                   const Job& job, const Report& report, const TargetOf& targetOf);
    ~CItemScheduler();
    CItemScheduler(const CItemScheduler&) = delete;
    CItemScheduler& operator=(const CItemScheduler&) = delete;

    // Runs items 0 to nCount - 1 and reports them in list order until the end or a stop;
    // the number reported. No worker thread outlives it, also when a report raises.
    int Run(int nCount);

private:
    using CEvents = std::vector<std::function<void(CSyncView&)>>;
    struct CItemReport {
        CEvents events; // what the item showed and logged, in order
        bool bDone = false;
        bool bOk = false;
    };
    // A worker's item handled last, handed in with the taking of the next one.
    struct CDone {
        int nIndex = -1;
        bool bOk = false;
        bool bUnanswered = false; // a request of the item brought no answer
        CEvents events;
        std::string target;
    };

    void Work(CItemWorker& worker, std::size_t nSlot);
    // Under the lock: done's report, or its item back for another worker. False when the
    // worker takes no more items.
    bool HandIn(CItemWorker& worker, CDone& done);
    // Under the lock: waits for an item to take (and for its target to be free); false when
    // there is none to take any more.
    bool Take(std::unique_lock<std::mutex>& lock, std::string& target, int& nIndex);
    void RunItem(CItemWorker& worker, std::size_t nSlot, int nIndex, CDone& done);
    int ReportInOrder();
    // Under the lock: every item done in a row from nLast; empty when nothing more will come.
    void TakeDoneInOrder(int nLast, std::vector<CItemReport>& batch);
    void StopAll(); // under the lock
    void JoinAll();

    const CItemLane& m_owner;
    const std::vector<std::unique_ptr<CItemWorker>>& m_workers;
    const Job& m_job;
    const Report& m_report;
    const TargetOf& m_targetOf;
    std::unique_ptr<CSilenceWatch> m_pSilence;
    int m_nCount = 0;
    int m_nWindow = 0; // items taken at most past the one in turn
    std::mutex m_mutex;
    std::condition_variable m_forWorkers;  // an item to take, or the end
    std::condition_variable m_forReporter; // the item in turn is done, or a worker ended
    std::vector<CItemReport> m_reports;
    std::vector<int> m_retake; // items of connections that never answered, for the others
    int m_nWorking = 0;        // workers taking items
    int m_nAlive = 0;          // worker threads not ended
    int m_nBusy = 0;           // workers inside an item
    std::multiset<std::string> m_targetsInFlight; // with a targetOf: the items' targets
    int m_nTargetWaits = 0; // workers waiting for an item of their target to end
    int m_nNext = 0;
    int m_nReported = 0;
    bool m_bTaking = true;
    std::vector<std::thread> m_threads;
};
