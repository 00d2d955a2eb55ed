// Items on several connections at once, reported in list order: with CONNECTIONS = N, N
// worker engines (each with its own keep-alive connection) take the items one after another,
// and what each item shows and logs is recorded and played back on the run's own view and
// log when it and every item before it are done, so the screen and the log read as if the
// items had been handled one by one.
#include "engine/SyncEngine.h"

#include "diag/MyLog.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>

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
    void End(std::size_t k, const CSyncEngine& engine) {
        CSlot& slot = m_slots[k];
        if (slot.bProven || engine.m_nResponses > 0) {
            slot.bProven = true;
            const std::int64_t nTook = SteadyNowMs() - slot.nSinceMs;
            if (nTook > m_nLongestMs)
                m_nLongestMs = nTook;
        }
        slot.nSinceMs = 0;
    }
    // Ends the requests of the silent connections whose items waited too long.
    void Withdraw(const std::vector<std::unique_ptr<CSyncEngine>>& workers) {
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
                workers[k]->m_nRequestStopFlag != 0)
                continue;
            WriteLog(g_pMyLog, 3,
                     "CSyncEngine::DownloadFilesInListFromServer> Connection %d Brought No Answer "
                     "In %lld ms, Its Item Goes To The Others",
                     static_cast<int>(k + 1), static_cast<long long>(nNow - nSince));
            workers[k]->m_nRequestStopFlag = CSyncEngine::kStopWithdrawn;
        }
    }

private:
    static constexpr std::int64_t kGraceMinMs = 250;
    struct CSlot {
        std::atomic<std::int64_t> nSinceMs{0}; // the start of the item in hand, 0 when idle
        std::atomic<bool> bProven{false};      // the connection has answered
    };
    bool Proven(std::size_t k, const CSyncEngine& engine) const {
        return m_slots[k].bProven || engine.m_nResponses > 0;
    }
    std::vector<CSlot> m_slots;
    std::atomic<std::int64_t> m_nLongestMs{0};
};

struct CItemReport {
    CEvents events;
    bool bDone = false;
    bool bOk = false;
};

} // namespace

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
    CSilenceWatch silence(workers.size());
    if (lend.pWorker != nullptr) {
        std::swap(m_pConnection, lend.pWorker->m_pConnection);
        std::swap(m_pSession, lend.pWorker->m_pSession);
        silence.SetProven(0);
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
    const int nWindow = 16 * static_cast<int>(workers.size());
    std::mutex mutex;
    std::condition_variable forWorkers;  // an item to take, or the end
    std::condition_variable forReporter; // the item in turn is done, or a worker ended
    std::vector<CItemReport> reports(static_cast<std::size_t>(nCount));
    std::vector<int> retake; // items of connections that never answered, for the others
    int nWorking = static_cast<int>(workers.size()); // workers taking items
    int nAlive = nWorking;                           // worker threads not ended
    int nBusy = 0;                                   // workers inside an item
    std::multiset<std::string> targetsInFlight;      // with targetOf: the items' targets
    int nTargetWaits = 0; // workers waiting for an item of their target to end
    int nNext = 0;
    int nReported = 0;
    bool bTaking = true;
    std::vector<std::thread> threads;
    for (const auto& worker : workers) {
        threads.emplace_back([&, engine = worker.get(), nSlot = threads.size()] {
            struct CEnd {
                std::mutex& mutex;
                std::condition_variable& forReporter;
                int& nAlive;
                ~CEnd() {
                    std::lock_guard<std::mutex> lock(mutex);
                    --nAlive;
                    forReporter.notify_one();
                }
            } end{mutex, forReporter, nAlive};
            // The item handled last, handed in with the taking of the next one: one lock per
            // item.
            int nDone = -1;
            bool bDoneOk = false;
            bool bDoneUnanswered = false;
            CEvents doneEvents;
            std::string doneTarget;
            for (;;) {
                int i = 0;
                {
                    std::unique_lock<std::mutex> lock(mutex);
                    if (nDone >= 0) {
                        --nBusy;
                        if (targetOf) {
                            targetsInFlight.erase(targetsInFlight.find(doneTarget));
                            if (nTargetWaits > 0)
                                forWorkers.notify_all(); // an item of the same target waits
                        }
                        if (nNext >= nCount)
                            forWorkers.notify_all(); // the idle ones see whether anything is left
                        const bool bWithdrawn =
                            engine->m_nRequestStopFlag == CSyncEngine::kStopWithdrawn;
                        if (!bDoneOk && (bDoneUnanswered || bWithdrawn) && nWorking > 1 &&
                            bTaking && m_nRequestStopFlag == 0) {
                            // A request without any answer (a connection the server refuses
                            // or holds): the item goes to the connections that work, and this
                            // worker stops.
                            --nWorking;
                            retake.push_back(nDone);
                            forWorkers.notify_all();
                            return;
                        }
                        CItemReport& done = reports[static_cast<std::size_t>(nDone)];
                        done.events = std::move(doneEvents);
                        done.bOk = bDoneOk;
                        done.bDone = true;
                        if (nDone == nReported)
                            forReporter.notify_one(); // the reporter waits for this one
                        nDone = -1;
                        if (bWithdrawn) {
                            --nWorking; // its connection is ended for good
                            forWorkers.notify_all();
                            return;
                        }
                    }
                    // Past the last item a worker stays while others are busy: an item of
                    // theirs may come back for retaking.
                    const auto bFinished = [&] {
                        return retake.empty() && nNext >= nCount && nBusy == 0;
                    };
                    forWorkers.wait(lock, [&] {
                        return !bTaking || !retake.empty() || bFinished() ||
                               (nNext < nCount && nNext < nReported + nWindow);
                    });
                    // The run's Stop ends the taking at once, not only once it is reported.
                    if (!bTaking || m_nRequestStopFlag != 0 || bFinished())
                        return;
                    if (!retake.empty()) {
                        i = retake.back();
                        retake.pop_back();
                    } else {
                        i = nNext++;
                    }
                    ++nBusy;
                    if (targetOf) {
                        doneTarget = targetOf(i);
                        ++nTargetWaits;
                        forWorkers.wait(lock, [&] {
                            return !bTaking || m_nRequestStopFlag != 0 ||
                                   targetsInFlight.count(doneTarget) == 0;
                        });
                        --nTargetWaits;
                        if (!bTaking || m_nRequestStopFlag != 0) {
                            --nBusy;
                            return;
                        }
                        targetsInFlight.insert(doneTarget);
                    }
                }
                CEvents events;
                CRecordingView view(events);
                engine->m_pDlg = &view;
                SetThreadLogSink([&events](int nLevel, const std::string& text) {
                    events.push_back([nLevel, text](CSyncView&) {
                        WriteLog(g_pMyLog, nLevel, "%s", text.c_str());
                    });
                });
                const int nUnansweredBefore = engine->m_nRequestsSent - engine->m_nResponses;
                bool bOk = false;
                silence.Begin(nSlot);
                try {
                    bOk = job(*engine, i);
                } catch (const plat::CHttpError& error) {
                    // Raised where the item reports, as it would have been one by one.
                    events.push_back([error](CSyncView&) { throw error; });
                }
                silence.End(nSlot, *engine);
                SetThreadLogSink(nullptr);
                engine->m_pDlg = nullptr;
                nDone = i;
                bDoneOk = bOk;
                bDoneUnanswered =
                    engine->m_nRequestsSent - engine->m_nResponses > nUnansweredBefore;
                doneEvents = std::move(events);
            }
        });
    }
    // Reports in list order. A stop reaches the workers' transfers within one wait; the items
    // already taken end with it and are reported as they ended.
    const auto stopAll = [&] {
        bTaking = false;
        for (const auto& worker : workers)
            worker->m_nRequestStopFlag = 1;
        forWorkers.notify_all();
    };
    const auto joinAll = [&] {
        {
            std::lock_guard<std::mutex> lock(mutex);
            stopAll();
        }
        for (std::thread& thread : threads)
            thread.join();
    };
    int nLast = 0;
    try {
        std::vector<CItemReport> batch;
        while (nLast < nCount) {
            // Every item done in a row from the one in turn, taken under one lock.
            batch.clear();
            {
                std::unique_lock<std::mutex> lock(mutex);
                if (nReported != nLast) {
                    nReported = nLast;
                    forWorkers.notify_all(); // the window moved
                }
                if (m_nRequestStopFlag != 0 && bTaking)
                    stopAll();
                if (!bTaking && nLast >= nNext)
                    break;
                while (!reports[static_cast<std::size_t>(nLast)].bDone) {
                    if (m_nRequestStopFlag != 0 && bTaking)
                        stopAll();
                    if (nAlive == 0)
                        break; // nobody will take it: the stop came first
                    forReporter.wait_for(lock, std::chrono::milliseconds(50));
                    silence.Withdraw(workers);
                }
                for (int i = nLast; i < nCount && reports[static_cast<std::size_t>(i)].bDone; ++i)
                    batch.push_back(std::move(reports[static_cast<std::size_t>(i)]));
            }
            if (batch.empty())
                break;
            for (const CItemReport& done : batch) {
                for (const auto& event : done.events)
                    event(View());
                report(nLast, done.bOk);
                ++nLast;
            }
        }
    } catch (...) {
        joinAll(); // no worker outlives the loop, also when an item's error ends it
        throw;
    }
    {
        std::lock_guard<std::mutex> lock(mutex);
        bTaking = false;
    }
    forWorkers.notify_all();
    for (std::thread& thread : threads)
        thread.join();
    for (const auto& worker : workers) {
        m_nDownloadedFiles += worker->m_nDownloadedFiles;
        m_nDownloadedBytes += worker->m_nDownloadedBytes;
        m_bLeftOverMarked = m_bLeftOverMarked || worker->m_bLeftOverMarked;
        m_nLeftOversKept += worker->m_nLeftOversKept;
    }
    return nLast;
}
