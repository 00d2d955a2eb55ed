// A whole update run as the engine tests stage it: a program folder, a served folder with the
// scripted server on it, the folders of a test machine, the log captured, and the settings of
// a run from a download base below the served folder. The tests reach into the engine's
// members only through the functions below, one each, so that a member that moves is followed
// here alone.
#pragma once

#include "config/SyncConfig.h"
#include "engine/SyncEngine.h"
#include "platform/HttpClient.h"
#include "support/FakeView.h"
#include "support/LogCapture.h"
#include "support/TempDir.h"
#include "support/TestHttpServer.h"
#include "support/TestMachine.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>

namespace kstest {

// Settings of a run of the program folder folder from the download base base of the server
// on 127.0.0.1:nPort (list "_listfile.txt"), read from the settings file strIni.
CSyncConfig RunConfig(const std::string& strIni, const std::string& folder, int nPort,
                      const std::string& base);

// A fresh engine that shows the run in view and connects with timeouts; not initialised.
SyncEnginePtr NewEngine(CSyncView& view, const plat::HttpTimeouts& timeouts = plat::HttpTimeouts());

// What a run that has ended left in its engine: the items of its list and the files it
// fetched.
struct RunCounts {
    int nItems = 0;
    int nDownloads = 0;
};

// Runs config once with a fresh engine and waits for its worker to end. prepare, when given,
// sees the initialised engine before the start; pCounts, when given, gets what the run left.
void RunToEnd(const CSyncConfig& config, CSyncView& view,
              const plat::HttpTimeouts& timeouts = plat::HttpTimeouts(),
              const std::function<void(CSyncEngine&)>& prepare = nullptr,
              RunCounts* pCounts = nullptr);

// Waits for the worker of a started run to end.
void WaitForRun(CSyncEngine& engine);
// What the Stop button does: the run ends after the item in hand, transfers in flight end.
void RequestStop(CSyncEngine& engine);
// True once the worker's body has returned.
bool RunHasEnded(const CSyncEngine& engine);
// True while the worker runs its sequence.
bool IsRunning(const CSyncEngine& engine);
// Trusted mode: hook is called with each step of the apply before it is taken.
void SetApplyStepHook(CSyncEngine& engine, std::function<void(int nStep)> hook);

class RunFixture : public ::testing::Test {
protected:
    // The time every served file has.
    static constexpr std::int64_t kServerTime = 1765000000;

    // A run from base (below the served folder, parts separated by "/") with "none.ini" as its
    // settings file, which does not exist.
    explicit RunFixture(const std::string& base = "base");

    // A file below the download base on the server (relative with "/"), with kServerTime.
    void Serve(const std::string& relative, const std::string& bytes);
    // Its path on the server's side.
    std::string ServedPath(const std::string& relative) const;
    // A path below the program folder (relative with "/").
    std::string Local(const std::string& relative) const;
    // Runs config once with a fresh engine that shows into view and has httpTimeouts, and
    // waits for the worker to end; m_nLastItems and m_nLastDownloads tell what it left.
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
