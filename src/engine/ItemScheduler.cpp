#include "engine/ItemScheduler.h"

#include "diag/MyLog.h"
#include "platform/MessageBox.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>

namespace {

// What one item showed and logged, in order, for its report.
using CEvents = std::vector<std::function<void(CSyncView&)>>;

// A view that records every call for the report.
class CRecordingView : public CSyncView {
public:
    explicit CRecordingView(CEvents& events) : m_events(events) {}
    void SetStepText(const std::string& text) override {
        m_events.push_back([text](CSyncView& v) { v.SetStepText(text); });
    }
    void SetTotalText(const std::string& text) override {
        m_events.push_back([text](CSyncView& v) { v.SetTotalText(text); });
    }
    void SetFileNameText(const std::string& text) override {
        m_events.push_back([text](CSyncView& v) { v.SetFileNameText(text); });
    }
    void SetTotalRange(int nLow, int nHigh) override {
        m_events.push_back([=](CSyncView& v) { v.SetTotalRange(nLow, nHigh); });
    }
    void SetTotalPos(int nPos) override {
        m_events.push_back([=](CSyncView& v) { v.SetTotalPos(nPos); });
    }
    void SetFileRange(int nLow, int nHigh) override {
        m_events.push_back([=](CSyncView& v) { v.SetFileRange(nLow, nHigh); });
    }
    void SetFilePos(int nPos) override {
        m_events.push_back([=](CSyncView& v) { v.SetFilePos(nPos); });
    }
    void ClearStatusList() override {
        m_events.push_back([](CSyncView& v) { v.ClearStatusList(); });
    }
    void AddStatusRow(int nKind, const std::string& text) override {
        m_events.push_back([=](CSyncView& v) { v.AddStatusRow(nKind, text); });
    }
    // The steps of an item ask nothing; a box would be answered by its default.
    int ShowMessageBox(const std::string&, const std::string&, unsigned nType) override {
        return plat::DefaultMessageBoxAnswer(nType);
    }
    void HideWindow() override {}
    void PostSyncDone(int) override {}
    void ExpandSpecialDirPath(DownFileItem&) override {}

private:
    CEvents& m_events;
};

std::int64_t SteadyNowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

// Connections that have never answered while others do: a server that serves one connection
// at a time (or a limit on the way) holds them without a word until the head time-out, and
// the items they took hold up the run. Such a worker's requests are ended once its item has
// waited several times as long as the longest item of an answering connection, and at least
// kGraceMinMs, so that its item goes to the connections that work, at their speed.
class CSilenceWatch {
public:
    explicit CSilenceWatch(std::size_t nWorkers) : m_slots(nWorkers) {}
    // Worker k goes on on a connection that has answered before.
    void SetProven(std::size_t k) { m_slots[k].bProven = true; }
    void Begin(std::size_t k) { m_slots[k].nSinceMs = SteadyNowMs(); }
    void End(std::size_t k, const CItemWorker& worker) {
        CSlot& slot = m_slots[k];
        if (slot.bProven || worker.pConn->m_nResponses > 0) {
            slot.bProven = true;
            const std::int64_t nTook = SteadyNowMs() - slot.nSinceMs;
            if (nTook > m_nLongestMs)
                m_nLongestMs = nTook;
        }
        slot.nSinceMs = 0;
    }
    // Ends the requests of the silent connections whose items waited too long.
    void Withdraw(const std::vector<std::unique_ptr<CItemWorker>>& workers) {
        const std::int64_t nNow = SteadyNowMs();
        std::int64_t nLongest = m_nLongestMs;
        bool bAnyProven = false;
        for (std::size_t k = 0; k < workers.size(); ++k) {
            if (!Proven(k, *workers[k]))
                continue;
            bAnyProven = true;
            if (m_slots[k].nSinceMs != 0)
                nLongest = std::max(nLongest, nNow - m_slots[k].nSinceMs);
        }
        const std::int64_t nGraceMs = std::max<std::int64_t>(kGraceMinMs, 4 * nLongest);
        for (std::size_t k = 0; bAnyProven && k < workers.size(); ++k) {
            const std::int64_t nSince = m_slots[k].nSinceMs;
            if (Proven(k, *workers[k]) || nSince == 0 || nNow - nSince <= nGraceMs ||
                workers[k]->nStop != 0)
                continue;
            WriteLog(g_pMyLog, 3,
                     "CSyncEngine::DownloadFilesInListFromServer> Connection %d Brought No Answer "
                     "In %lld ms, Its Item Goes To The Others",
                     static_cast<int>(k + 1), static_cast<long long>(nNow - nSince));
            workers[k]->nStop = CItemLane::kStopWithdrawn;
        }
    }

private:
    static constexpr std::int64_t kGraceMinMs = 250;
    struct CSlot {
        std::atomic<std::int64_t> nSinceMs{0}; // the start of the item in hand, 0 when idle
        std::atomic<bool> bProven{false};      // the connection has answered
    };
    bool Proven(std::size_t k, const CItemWorker& worker) const {
        return m_slots[k].bProven || worker.pConn->m_nResponses > 0;
    }
    std::vector<CSlot> m_slots;
    std::atomic<std::int64_t> m_nLongestMs{0};
};

CItemScheduler::CItemScheduler(const CItemLane& owner,
                               const std::vector<std::unique_ptr<CItemWorker>>& workers,
                               const Job& job, const Report& report, const TargetOf& targetOf)
    : m_owner(owner), m_workers(workers), m_job(job), m_report(report), m_targetOf(targetOf),
      m_pSilence(std::make_unique<CSilenceWatch>(workers.size())) {
    m_pSilence->SetProven(0);
}

CItemScheduler::~CItemScheduler() = default;

int CItemScheduler::Run(int nCount) {
    m_nCount = nCount;
    m_nWindow = 16 * static_cast<int>(m_workers.size());
    m_reports.resize(static_cast<std::size_t>(nCount));
    m_nWorking = m_nAlive = static_cast<int>(m_workers.size());
    for (std::size_t k = 0; k < m_workers.size(); ++k)
        m_threads.emplace_back([this, k] { Work(*m_workers[k], k); });
    int nLast = 0;
    try {
        nLast = ReportInOrder();
    } catch (...) {
        JoinAll(); // no worker outlives the loop, also when an item's error ends it
        throw;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bTaking = false;
    }
    m_forWorkers.notify_all();
    for (std::thread& thread : m_threads)
        thread.join();
    return nLast;
}

void CItemScheduler::Work(CItemWorker& worker, std::size_t nSlot) {
    struct CEnd {
        CItemScheduler& scheduler;
        ~CEnd() {
            std::lock_guard<std::mutex> lock(scheduler.m_mutex);
            --scheduler.m_nAlive;
            scheduler.m_forReporter.notify_one();
        }
    } end{*this};
    CDone done; // handed in with the taking of the next item: one lock per item
    for (;;) {
        int i = 0;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            if (done.nIndex >= 0 && !HandIn(worker, done))
                return;
            if (!Take(lock, done.target, i))
                return;
        }
        RunItem(worker, nSlot, i, done);
    }
}

bool CItemScheduler::HandIn(CItemWorker& worker, CDone& done) {
    --m_nBusy;
    if (m_targetOf) {
        m_targetsInFlight.erase(m_targetsInFlight.find(done.target));
        if (m_nTargetWaits > 0)
            m_forWorkers.notify_all(); // an item of the same target waits
    }
    if (m_nNext >= m_nCount)
        m_forWorkers.notify_all(); // the idle ones see whether anything is left
    const bool bWithdrawn = worker.nStop == CItemLane::kStopWithdrawn;
    if (!done.bOk && (done.bUnanswered || bWithdrawn) && m_nWorking > 1 && m_bTaking &&
        m_owner.stop == 0) {
        // A request without any answer (a connection the server refuses or holds): the item
        // goes to the connections that work, and this worker stops.
        --m_nWorking;
        m_retake.push_back(done.nIndex);
        m_forWorkers.notify_all();
        return false;
    }
    CItemReport& report = m_reports[static_cast<std::size_t>(done.nIndex)];
    report.events = std::move(done.events);
    report.bOk = done.bOk;
    report.bDone = true;
    if (done.nIndex == m_nReported)
        m_forReporter.notify_one(); // the reporter waits for this one
    done.nIndex = -1;
    if (bWithdrawn) {
        --m_nWorking; // its connection is ended for good
        m_forWorkers.notify_all();
        return false;
    }
    return true;
}

bool CItemScheduler::Take(std::unique_lock<std::mutex>& lock, std::string& target, int& nIndex) {
    // Past the last item a worker stays while others are busy: an item of theirs may come
    // back for retaking.
    const auto bFinished = [&] { return m_retake.empty() && m_nNext >= m_nCount && m_nBusy == 0; };
    m_forWorkers.wait(lock, [&] {
        return !m_bTaking || !m_retake.empty() || bFinished() ||
               (m_nNext < m_nCount && m_nNext < m_nReported + m_nWindow);
    });
    // The run's Stop ends the taking at once, not only once it is reported.
    if (!m_bTaking || m_owner.stop != 0 || bFinished())
        return false;
    if (!m_retake.empty()) {
        nIndex = m_retake.back();
        m_retake.pop_back();
    } else {
        nIndex = m_nNext++;
    }
    ++m_nBusy;
    if (!m_targetOf)
        return true;
    target = m_targetOf(nIndex);
    ++m_nTargetWaits;
    m_forWorkers.wait(lock, [&] {
        return !m_bTaking || m_owner.stop != 0 || m_targetsInFlight.count(target) == 0;
    });
    --m_nTargetWaits;
    if (!m_bTaking || m_owner.stop != 0) {
        --m_nBusy;
        return false;
    }
    m_targetsInFlight.insert(target);
    return true;
}

void CItemScheduler::RunItem(CItemWorker& worker, std::size_t nSlot, int nIndex, CDone& done) {
    CEvents events;
    CRecordingView view(events);
    worker.pView = &view;
    const CSyncConnection& conn = *worker.pConn;
    SetThreadLogSink([&events](int nLevel, const std::string& text) {
        events.push_back(
            [nLevel, text](CSyncView&) { WriteLog(g_pMyLog, nLevel, "%s", text.c_str()); });
    });
    const int nUnansweredBefore = conn.m_nRequestsSent - conn.m_nResponses;
    bool bOk = false;
    m_pSilence->Begin(nSlot);
    try {
        CItemLane lane = worker.Lane();
        bOk = m_job(lane, nIndex);
    } catch (const plat::CHttpError& error) {
        // Raised where the item reports, as it would have been one by one.
        events.push_back([error](CSyncView&) { throw error; });
    }
    m_pSilence->End(nSlot, worker);
    SetThreadLogSink(nullptr);
    worker.pView = nullptr;
    done.nIndex = nIndex;
    done.bOk = bOk;
    done.bUnanswered = conn.m_nRequestsSent - conn.m_nResponses > nUnansweredBefore;
    done.events = std::move(events);
}

// Reports in list order. A stop reaches the workers' transfers within one wait; the items
// already taken end with it and are reported as they ended.
int CItemScheduler::ReportInOrder() {
    int nLast = 0;
    std::vector<CItemReport> batch;
    while (nLast < m_nCount) {
        TakeDoneInOrder(nLast, batch);
        if (batch.empty())
            break;
        for (const CItemReport& done : batch) {
            for (const auto& event : done.events)
                event(m_owner.View());
            m_report(nLast, done.bOk);
            ++nLast;
        }
    }
    return nLast;
}

void CItemScheduler::TakeDoneInOrder(int nLast, std::vector<CItemReport>& batch) {
    batch.clear();
    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_nReported != nLast) {
        m_nReported = nLast;
        m_forWorkers.notify_all(); // the window moved
    }
    if (m_owner.stop != 0 && m_bTaking)
        StopAll();
    if (!m_bTaking && nLast >= m_nNext)
        return;
    while (!m_reports[static_cast<std::size_t>(nLast)].bDone) {
        if (m_owner.stop != 0 && m_bTaking)
            StopAll();
        if (m_nAlive == 0)
            break; // nobody will take it: the stop came first
        m_forReporter.wait_for(lock, std::chrono::milliseconds(50));
        m_pSilence->Withdraw(m_workers);
    }
    for (int i = nLast; i < m_nCount && m_reports[static_cast<std::size_t>(i)].bDone; ++i)
        batch.push_back(std::move(m_reports[static_cast<std::size_t>(i)]));
}

void CItemScheduler::StopAll() {
    m_bTaking = false;
    for (const auto& worker : m_workers)
        worker->nStop = 1;
    m_forWorkers.notify_all();
}

void CItemScheduler::JoinAll() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        StopAll();
    }
    for (std::thread& thread : m_threads)
        thread.join();
}
