#include "support/RunFixture.h"

#include "platform/FileSystem.h"
#include "platform/Path.h"

#include <utility>

namespace kstest {

namespace {

// relative (parts separated by "/") below root, joined with the platform's separator.
std::string PathBelow(const std::string& root, const std::string& relative) {
    std::string path = root;
    std::string rest = relative;
    for (std::size_t sep; (sep = rest.find('/')) != std::string::npos;) {
        path = plat::JoinPath(path, rest.substr(0, sep));
        rest = rest.substr(sep + 1);
    }
    return plat::JoinPath(path, rest);
}

} // namespace

CSyncConfig RunConfig(const std::string& strIni, const std::string& folder, int nPort,
                      const std::string& base) {
    CSyncConfig config(strIni);
    config.m_strServerIp = "127.0.0.1";
    config.m_nServerPort = nPort;
    config.m_strDownloadBaseUrl = base;
    config.m_strListFileName = "_listfile.txt";
    config.m_strLocalBaseDir = folder;
    return config;
}

SyncEnginePtr NewEngine(CSyncView& view, const plat::HttpTimeouts& timeouts) {
    SyncEnginePtr engine(new CSyncEngine);
    engine->m_pDlg = &view;
    engine->m_httpTimeouts = timeouts;
    return engine;
}

void RunToEnd(const CSyncConfig& config, CSyncView& view, const plat::HttpTimeouts& timeouts,
              const std::function<void(CSyncEngine&)>& prepare, RunCounts* pCounts) {
    SyncEnginePtr engine = NewEngine(view, timeouts);
    ASSERT_EQ(engine->InitSyncEngine(&config), 0);
    if (prepare)
        prepare(*engine);
    ASSERT_EQ(engine->StartSyncThread(), 0);
    WaitForRun(*engine);
    if (pCounts != nullptr) {
        pCounts->nItems = static_cast<int>(engine->m_DownFileItemList.size());
        pCounts->nDownloads = engine->m_nDownloadedFiles;
    }
}

void WaitForRun(CSyncEngine& engine) {
    engine.m_pSyncThread->Join();
}

void RequestStop(CSyncEngine& engine) {
    engine.m_nRequestStopFlag = 1;
}

bool RunHasEnded(const CSyncEngine& engine) {
    return engine.m_nThreadEndedFlag != 0;
}

bool IsRunning(const CSyncEngine& engine) {
    return engine.m_nNowRunningFlag != 0;
}

void SetApplyStepHook(CSyncEngine& engine, std::function<void(int nStep)> hook) {
    engine.m_applyStepHook = std::move(hook);
}

RunFixture::RunFixture(const std::string& base)
    : config(RunConfig("none.ini", app.Path(), server.Port(), base)) {
    server.ServeFolder(served.Path());
}

void RunFixture::Serve(const std::string& relative, const std::string& bytes) {
    const std::string path = ServedPath(relative);
    ASSERT_TRUE(plat::CreateFolderChain(path.substr(0, plat::LastSepPos(path))));
    ASSERT_TRUE(WriteFileBytes(path, bytes));
    ASSERT_TRUE(plat::SetFileModifyTime(path, kServerTime));
}

std::string RunFixture::ServedPath(const std::string& relative) const {
    return PathBelow(served.Path(), config.m_strDownloadBaseUrl + "/" + relative);
}

std::string RunFixture::Local(const std::string& relative) const {
    return PathBelow(app.Path(), relative);
}

void RunFixture::Run(FakeView& view, const std::function<void(CSyncEngine&)>& prepare) {
    RunCounts counts;
    RunToEnd(config, view, httpTimeouts, prepare, &counts);
    m_nLastItems = counts.nItems;
    m_nLastDownloads = counts.nDownloads;
}

} // namespace kstest
