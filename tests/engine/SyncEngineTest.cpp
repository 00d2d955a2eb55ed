// The engine object: initialisation, the item list, the worker thread and the bounded stop
// when an engine is deleted.
#include "engine/SyncEngine.h"
#include "support/FakeView.h"
#include "support/LogCapture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

// Waits (bounded) until flag holds.
bool WaitFor(const std::atomic<bool>& flag) {
    for (int i = 0; i < 2000 && !flag; ++i)
        plat::SleepMs(10);
    return flag;
}

TEST(SyncEngine, InitAndItemList) {
    kstest::LogCapture log;
    CSyncConfig config("none.ini");
    config.m_strServerIp = "127.0.0.1";
    config.m_nServerPort = 8080;
    SyncEnginePtr engine(new CSyncEngine);
    EXPECT_EQ(engine->InitSyncEngine(&config), 0);
    config.m_nServerPort = 1; // the engine keeps its own copy
    EXPECT_EQ(engine->m_pConfig->m_nServerPort, 8080);
    for (int i = 0; i < 3; ++i)
        engine->m_DownFileItemList.push_back(std::make_unique<DownFileItem>());
    engine->ClearDownFileItemList();
    EXPECT_TRUE(engine->m_DownFileItemList.empty());
    EXPECT_THAT(log.Messages(),
                ElementsAre("CSyncEngine::ClearDownFileItemList> Delete Master Down File List, "
                            "Cnt = 3"));
}

TEST(SyncEngine, NoConnectionWithoutAServerName) {
    kstest::LogCapture log;
    CSyncConfig config("none.ini");
    config.m_strServerIp = "";
    config.m_nServerPort = 81;
    SyncEnginePtr engine(new CSyncEngine);
    EXPECT_EQ(engine->InitSyncEngine(&config), -1);
    EXPECT_THAT(log.Messages(), ElementsAre("CCobaltSyncEngine::DownloadListFileFromServer> "
                                            "GetHttpConnection(, 81) returns NULL"));
}

TEST(SyncEngine, OneWorkerThreadPerEngine) {
    kstest::LogCapture log;
    SyncEnginePtr engine(new CSyncEngine);
    std::atomic<int> runs{0};
    EXPECT_EQ(engine->StartWorkerThread([&runs] { ++runs; }), 0);
    EXPECT_EQ(engine->StartWorkerThread([&runs] { ++runs; }), 2);
    engine.reset();
    EXPECT_EQ(runs, 1);
    const std::vector<std::string> lines = log.LevelsAndMessages();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0], "INFO  CSyncEngine::StartSyncThread> Start m_pSyncThread...");
    EXPECT_EQ(lines[1], "WARN  CSyncEngine::StartSyncThread> m_pSyncThread is Not NULL");
}

TEST(SyncEngineDelete, NeverStartedEngineIsFreedAtOnce) {
    kstest::LogCapture log;
    CSyncEngine* engine = new CSyncEngine;
    engine->m_DownFileItemList.push_back(std::make_unique<DownFileItem>());
    DeleteSyncEngine(engine);
    EXPECT_THAT(log.Messages(),
                ElementsAre("CCobaltSyncEngine::~CCobaltSyncEngine> Call ClearDownFileItemList "
                            "Function",
                            "CSyncEngine::ClearDownFileItemList> Delete Master Down File List, "
                            "Cnt = 1",
                            "CCobaltSyncEngine::~CCobaltSyncEngine> Delete m_pCobaltSyncThread"));
}

TEST(SyncEngineDelete, FinishedThreadIsNotWaitedFor) {
    kstest::LogCapture log;
    CSyncEngine* engine = new CSyncEngine;
    std::atomic<bool> done{false};
    engine->StartWorkerThread([engine, &done] {
        engine->m_nNowRunningFlag = 1;
        engine->m_nNowRunningFlag = 0;
        done = true;
    });
    ASSERT_TRUE(WaitFor(done));
    DeleteSyncEngine(engine);
    EXPECT_THAT(log.Messages(), Contains("CCobaltSyncEngine::~CCobaltSyncEngine> "
                                         "m_pCobaltSyncEngine->m_nNowRunningFlag is 0"));
    EXPECT_THAT(log.Messages(), Not(Contains(HasSubstr("Set m_nRequestStopFlag"))));
}

TEST(SyncEngineDelete, RunningThreadStopsWithinTheWait) {
    kstest::LogCapture log;
    CSyncEngine* engine = new CSyncEngine;
    std::atomic<bool> started{false};
    engine->StartWorkerThread([engine, &started] {
        engine->m_nNowRunningFlag = 1;
        started = true;
        while (engine->m_nRequestStopFlag == 0)
            plat::SleepMs(5);
        engine->m_nNowRunningFlag = 0;
    });
    ASSERT_TRUE(WaitFor(started));
    DeleteSyncEngine(engine);
    const std::vector<std::string> lines = log.LevelsAndMessages();
    EXPECT_THAT(lines, Contains("INFO  CCobaltSyncEngine::~CCobaltSyncEngine> Set "
                                "m_nRequestStopFlag = 1"));
    EXPECT_THAT(lines, Not(Contains(HasSubstr("Forcely"))));
    EXPECT_THAT(lines, Not(Contains(HasSubstr("Leave CobaltSyncThread Running"))));
    // The thread is stopped before the items it might use are freed.
    const auto stop = std::find_if(lines.begin(), lines.end(), [](const std::string& line) {
        return line.find("Set m_nRequestStopFlag") != std::string::npos;
    });
    const auto clear = std::find_if(lines.begin(), lines.end(), [](const std::string& line) {
        return line.find("Call ClearDownFileItemList") != std::string::npos;
    });
    EXPECT_LT(stop - lines.begin(), clear - lines.begin());
}

#ifdef _WIN32
// A window of the test's thread that a worker calls synchronously, as the dialog's controls
// are called.
class CallTarget {
public:
    CallTarget() {
        WNDCLASSW wc{};
        wc.lpfnWndProc = &::DefWindowProcW;
        wc.hInstance = ::GetModuleHandleW(nullptr);
        wc.lpszClassName = L"KsTestCallTarget";
        ::RegisterClassW(&wc);
        m_hwnd = ::CreateWindowW(L"KsTestCallTarget", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                 wc.hInstance, nullptr);
    }
    ~CallTarget() { ::DestroyWindow(m_hwnd); }
    CallTarget(const CallTarget&) = delete;
    CallTarget& operator=(const CallTarget&) = delete;
    HWND Handle() const { return m_hwnd; }

private:
    HWND m_hwnd;
};

TEST(SyncEngineDelete, WorkerInAWindowCallIsServedWhileWaiting) {
    kstest::LogCapture log;
    CallTarget target;
    ASSERT_NE(target.Handle(), nullptr);
    CSyncEngine* engine = new CSyncEngine;
    std::atomic<bool> started{false};
    std::atomic<int> calls{0};
    const HWND hwnd = target.Handle();
    engine->StartWorkerThread([engine, hwnd, &started, &calls] {
        engine->m_nNowRunningFlag = 1;
        started = true;
        while (engine->m_nRequestStopFlag == 0)
            plat::SleepMs(5);
        // Like a progress update after the stop request: it waits for this thread's window.
        for (int i = 0; i < 3; ++i) {
            ::SendMessageW(hwnd, WM_NULL, 0, 0);
            ++calls;
        }
        engine->m_nNowRunningFlag = 0;
    });
    ASSERT_TRUE(WaitFor(started));
    DeleteSyncEngine(engine);
    EXPECT_EQ(calls, 3);
    EXPECT_THAT(log.Messages(), Not(Contains(HasSubstr("Forcely"))));
}

// A worker that has not set its running flag yet may already call this thread's window (it
// took the view before the engine was given up): waiting for its end serves those calls.
TEST(SyncEngineDelete, WorkerNotYetRunningIsServedWhileItEnds) {
    CallTarget target;
    ASSERT_NE(target.Handle(), nullptr);
    CSyncEngine* engine = new CSyncEngine;
    std::atomic<bool> started{false};
    std::atomic<int> served{0};
    const HWND hwnd = target.Handle();
    engine->StartWorkerThread([hwnd, &started, &served] {
        started = true;
        for (int i = 0; i < 3; ++i) {
            DWORD_PTR result = 0;
            if (::SendMessageTimeoutW(hwnd, WM_NULL, 0, 0, SMTO_NORMAL, 2000, &result) != 0)
                ++served;
        }
    });
    ASSERT_TRUE(WaitFor(started));
    DeleteSyncEngine(engine);
    EXPECT_EQ(served, 3);
}

TEST(SyncEngineDelete, ThreadThatNeverStopsIsTerminated) {
    kstest::LogCapture log;
    CSyncEngine* engine = new CSyncEngine;
    HANDLE never = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::atomic<bool> started{false};
    engine->StartWorkerThread([engine, never, &started] {
        engine->m_nNowRunningFlag = 1;
        started = true;
        ::WaitForSingleObject(never, INFINITE);
    });
    ASSERT_TRUE(WaitFor(started));
    DeleteSyncEngine(engine);
    ::CloseHandle(never);
    EXPECT_THAT(log.LevelsAndMessages(),
                Contains("WARN  CCobaltSyncEngine::~CCobaltSyncEngine> Terminate CobaltSyncThread "
                         "Forcely..."));
}
#else
TEST(SyncEngineDelete, ThreadThatDoesNotStopIsLeftToFinishAlone) {
    kstest::LogCapture log;
    auto view = std::make_shared<kstest::FakeView>();
    CSyncEngine* engine = new CSyncEngine;
    engine->m_pDlg = view.get();
    view->BlockNextStepText();
    auto finished = std::make_shared<std::atomic<bool>>(false);
    engine->StartWorkerThread([engine, finished] {
        engine->m_nNowRunningFlag = 1;
        engine->View().SetStepText("blocked");
        engine->View().SetStepText("after the owner let go"); // goes nowhere now
        engine->m_nNowRunningFlag = 0;
        *finished = true;
    });
    for (int i = 0; i < 2000 && !view->IsBlocked(); ++i)
        plat::SleepMs(10);
    ASSERT_TRUE(view->IsBlocked());
    DeleteSyncEngine(engine); // returns after the bounded wait; the thread is not killed
    EXPECT_THAT(log.LevelsAndMessages(),
                Contains(HasSubstr("WARN  CCobaltSyncEngine::~CCobaltSyncEngine> Leave "
                                   "CobaltSyncThread Running")));
    EXPECT_FALSE(*finished);
    view->ReleaseBlock();
    ASSERT_TRUE(WaitFor(*finished));
    plat::SleepMs(100); // the thread frees the engine as it leaves
    EXPECT_THAT(view->Calls(), ElementsAre("step:blocked"));
}
#endif

} // namespace
