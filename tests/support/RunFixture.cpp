#include "support/RunFixture.h"

#include "platform/FileSystem.h"
#include "platform/Path.h"

#include <algorithm>

namespace kstest {

namespace {

// relative (parts separated by "/") below root, with the platform's separator.
std::string PathBelow(const std::string& root, std::string relative) {
    std::replace(relative.begin(), relative.end(), '/', plat::kPathSep);
    return plat::JoinPath(root, relative);
}

} // namespace

CSyncConfig RunFixture::RunConfig(const std::string& strIni, const std::string& folder, int nPort,
                                  const std::string& base) {
    CSyncConfig config(strIni);
    config.m_strServerIp = "127.0.0.1";
    config.m_nServerPort = nPort;
    config.m_strDownloadBaseUrl = base;
    config.m_strListFileName = "_listfile.txt";
    config.m_strLocalBaseDir = folder;
    return config;
}

void RunFixture::RunToEnd(const CSyncConfig& config, CSyncView& view,
                          const plat::HttpTimeouts& timeouts,
                          const std::function<void(CSyncEngine&)>& prepare, int* pItems,
                          int* pDownloads) {
    SyncEnginePtr engine = NewEngine(view, timeouts);
    ASSERT_EQ(engine->InitSyncEngine(&config), 0);
    if (prepare)
        prepare(*engine);
    ASSERT_EQ(engine->StartSyncThread(), 0);
    WaitForRun(*engine);
    if (pItems != nullptr)
        *pItems = static_cast<int>(engine->m_DownFileItemList.size());
    if (pDownloads != nullptr)
        *pDownloads = engine->m_nDownloadedFiles;
}

SyncEnginePtr RunFixture::NewEngine(CSyncView& view, const plat::HttpTimeouts& timeouts) {
    SyncEnginePtr engine(new CSyncEngine);
    engine->m_pDlg = &view;
    engine->m_httpTimeouts = timeouts;
    return engine;
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
    RunToEnd(config, view, httpTimeouts, prepare, &m_nLastItems, &m_nLastDownloads);
}

} // namespace kstest
