#include "engine/SyncEngine.h"

#include "diag/MyLog.h"
#include "engine/PlainRun.h"
#include "platform/FileSystem.h"
#include "platform/Path.h"
#include "trust/SignedList.h"
#include "updatelist/ListFile.h"

#include <chrono>
#include <cstdint>
#include <ctime>

namespace {

// Where output goes once the owner has given up an engine whose worker runs on.
CNullSyncView g_nullView;

} // namespace

CSyncEngine::CSyncEngine() : m_pMode(std::make_unique<CPlainRun>()) {}

CSyncEngine::~CSyncEngine() {
    WriteLog(g_pMyLog, 1,
             "CCobaltSyncEngine::~CCobaltSyncEngine> Call ClearDownFileItemList Function");
    ClearDownFileItemList();
    WriteLog(g_pMyLog, 1, "CCobaltSyncEngine::~CCobaltSyncEngine> Delete m_pCobaltSyncThread");
    m_pSyncThread.reset();
}

CSyncView& CSyncEngine::View() const {
    CSyncView* view = m_pDlg.load();
    return view != nullptr ? *view : g_nullView;
}

int CSyncEngine::InitSyncEngine(const CSyncConfig* pConfig) {
    m_pConfigCopy = std::make_unique<CSyncConfig>(*pConfig);
    m_pConfig = m_pConfigCopy.get();
    // Every wait of the HTTP layer ends soon after Stop.
    m_httpTimeouts.pStopFlag = &m_nRequestStopFlag;
    return m_connection.Open(*m_pConfig, m_httpTimeouts);
}

void CSyncEngine::ClearDownFileItemList() {
    WriteLog(g_pMyLog, 1,
             "CSyncEngine::ClearDownFileItemList> Delete Master Down File List, Cnt = %d",
             static_cast<int>(m_DownFileItemList.size()));
    m_DownFileItemList.clear();
}

int CSyncEngine::StartWorkerThread(std::function<void()> body) {
    if (m_pSyncThread != nullptr) {
        WriteLog(g_pMyLog, 3, "CSyncEngine::StartSyncThread> m_pSyncThread is Not NULL");
        return 2;
    }
    auto thread = std::make_unique<plat::CWorkerThread>();
    const bool bCreated = thread->Create([this, body = std::move(body)] {
        body();
        m_nThreadEndedFlag = 1;
        // The owner gave the engine up while this thread still ran: free it here.
        if (m_nReleaseFlag.exchange(1) == 1)
            delete this;
    });
    if (!bCreated) {
        WriteLog(g_pMyLog, 4, "CSyncEngine::StartSyncThread> AfxBeginThread() Fail, ErrCode = %d",
                 plat::LastErrorCode());
        return 1;
    }
    m_pSyncThread = std::move(thread);
    WriteLog(g_pMyLog, 2, "CSyncEngine::StartSyncThread> Start m_pSyncThread...");
    m_pSyncThread->Resume();
    return 0;
}

int CSyncEngine::GetFileListFileFromFile(DownFileItemList& list) {
    const auto expand = [this](DownFileItem& item) { View().ExpandSpecialDirPath(item); };
    if (const std::string* accepted = m_pMode->AcceptedListBytes()) {
        ParseListBytes(*accepted, m_pConfig->m_strLocalBaseDir, expand, list,
                       m_pMode->ListLineMax());
        return 0;
    }
    const std::string path =
        plat::JoinPath(m_pConfig->m_strLocalBaseDir, m_pConfig->m_strListFileName);
    return ReadListFile(path, m_pConfig->m_strLocalBaseDir, expand, list, m_pMode->ListLineMax());
}

bool CSyncEngine::StopSyncThread() {
    if (m_pSyncThread == nullptr)
        return true;
    WriteLog(g_pMyLog, 1, "CCobaltSyncEngine::~CCobaltSyncEngine> m_pCobaltSyncThread is Not NULL");
    if (m_nNowRunningFlag == 0) {
        WriteLog(g_pMyLog, 1,
                 "CCobaltSyncEngine::~CCobaltSyncEngine> m_pCobaltSyncEngine->m_nNowRunningFlag "
                 "is 0");
        WriteLog(g_pMyLog, 1, "CCobaltSyncEngine::~CCobaltSyncEngine> Delete m_pCobaltSyncThread");
        return true;
    }
    WriteLog(g_pMyLog, 2, "CCobaltSyncEngine::~CCobaltSyncEngine> Set m_nRequestStopFlag = 1");
    m_nRequestStopFlag = 1;
    // Whole seconds, so the wait lasts 5 to 6 seconds. The worker may be waiting in a call
    // to a window of this thread; serving those calls lets it reach the end of its run.
    const std::time_t deadline = std::time(nullptr) + 5;
    while (m_nNowRunningFlag != 0) {
        if (std::time(nullptr) > deadline)
            break;
        // Steps of 50 ms that end early when the flag clears: a worker that has just posted
        // its end clears it within a millisecond, and the run's end waits no longer.
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(50);
        while (m_nNowRunningFlag != 0 && std::chrono::steady_clock::now() < until)
            plat::SleepServingSentMessages(1);
    }
    return m_nNowRunningFlag == 0;
}

void DeleteSyncEngine(CSyncEngine* pEngine) {
    if (pEngine == nullptr)
        return;
    // The owner has given the engine up: the worker no longer speaks to its window. The end
    // of a run stopped here is no news to it, and would otherwise reach the window as the end
    // of the run that replaces this one. A call the worker is making to the window finishes;
    // calls that the wait below serves go on as before.
    pEngine->m_pDlg = nullptr;
    if (pEngine->StopSyncThread()) {
        if (pEngine->m_pSyncThread != nullptr) {
            // Not running can also mean not begun yet: such a worker begins its run stopped
            // and without a view, so that the wait is for no whole run. A call that it made
            // to this thread's windows before it lost the view is served meanwhile.
            pEngine->m_nRequestStopFlag = 1;
            pEngine->m_pSyncThread->Resume();
            while (pEngine->m_nThreadEndedFlag == 0)
                plat::SleepServingSentMessages(1);
            pEngine->m_pSyncThread->Join(); // its last steps after its body
        }
        delete pEngine;
        return;
    }
    if constexpr (plat::kCanTerminateThreads) {
        WriteLog(g_pMyLog, 3,
                 "CCobaltSyncEngine::~CCobaltSyncEngine> Terminate CobaltSyncThread Forcely...");
        pEngine->m_pSyncThread->Terminate();
        delete pEngine;
    } else {
        // The thread runs on without a view and frees the engine itself when it ends.
        WriteLog(g_pMyLog, 3,
                 "CCobaltSyncEngine::~CCobaltSyncEngine> Leave CobaltSyncThread Running, It "
                 "Deletes The Engine At Its End...");
        pEngine->m_pSyncThread->Detach();
        if (pEngine->m_nReleaseFlag.exchange(1) == 1)
            delete pEngine; // the worker left the engine in the meantime
    }
}
