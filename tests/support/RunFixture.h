// A whole update run as the engine tests stage it: a program folder, a served folder with the
// scripted server on it, the folders of a test machine, the log captured, and the settings of
// a run from a download base below the served folder.
#pragma once

#include "engine/SyncEngine.h"
#include "support/FakeView.h"
#include "support/LogCapture.h"
#include "support/TempDir.h"
#include "support/TestHttpServer.h"
#include "support/TestMachine.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>

namespace kstest {

class RunFixture : public ::testing::Test {
public:
    using Row = std::pair<int, std::string>; // a status row as the view records it

    // Settings of a run of the program folder folder from the download base base of the server
    // on 127.0.0.1:nPort (list "_listfile.txt"), read from the settings file strIni.
    static CSyncConfig RunConfig(const std::string& strIni, const std::string& folder, int nPort,
                                 const std::string& base);
    // Runs config once with a fresh engine and waits for its worker to end. prepare, when
    // given, sees the initialised engine before the start; pItems and pDownloads, when given,
    // get the number of the run's items and of the files it fetched.
    static void RunToEnd(const CSyncConfig& config, CSyncView& view,
                         const plat::HttpTimeouts& timeouts = plat::HttpTimeouts(),
                         const std::function<void(CSyncEngine&)>& prepare = nullptr,
                         int* pItems = nullptr, int* pDownloads = nullptr);

    // The tests reach into the engine's members only here, one function each, so that a
    // member that moves is followed here alone.
    // A fresh engine that shows the run in view and connects with timeouts; not initialised.
    static SyncEnginePtr NewEngine(CSyncView& view,
                                   const plat::HttpTimeouts& timeouts = plat::HttpTimeouts());
    // Waits for the worker of a started run to end.
    static void WaitForRun(CSyncEngine& engine) { engine.m_pSyncThread->Join(); }
    // What the Stop button does: the run ends after the item in hand, transfers in flight end.
    static void RequestStop(CSyncEngine& engine) { engine.m_nRequestStopFlag = 1; }
    // True once the worker's body has returned.
    static bool RunHasEnded(const CSyncEngine& engine) { return engine.m_nThreadEndedFlag != 0; }
    // True while the worker runs its sequence.
    static bool IsRunning(const CSyncEngine& engine) { return engine.m_nNowRunningFlag != 0; }
    // Trusted mode: hook is called with each step of the apply before it is taken.
    static void SetApplyStepHook(CSyncEngine& engine, std::function<void(int nStep)> hook) {
        engine.m_applyStepHook = std::move(hook);
    }

protected:
    static constexpr std::int64_t kServerTime = 1765000000; // of every served file

    // A run from base (below the served folder, parts separated by "/") with "none.ini", which
    // does not exist, as its settings file.
    explicit RunFixture(const std::string& base = "base");

    // A file below the download base on the server (relative with "/"), with kServerTime.
    void Serve(const std::string& relative, const std::string& bytes);
    // Its path on the server's side.
    std::string ServedPath(const std::string& relative) const;
    // A path below the program folder (relative with "/").
    std::string Local(const std::string& relative) const;
    // RunToEnd of config with httpTimeouts, into m_nLastItems and m_nLastDownloads.
    void Run(FakeView& view, const std::function<void(CSyncEngine&)>& prepare = nullptr);

    LogCapture log;
    TestMachine machine;
    TempDir served;
    TempDir app;
    TestHttpServer server;
    CSyncConfig config;
    plat::HttpTimeouts httpTimeouts;
    int m_nLastItems = 0;
    int m_nLastDownloads = 0;
};

} // namespace kstest
