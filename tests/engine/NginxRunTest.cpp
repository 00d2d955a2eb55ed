// Whole runs against a real nginx (started by CTest around the suite, see tests/CMakeLists.txt):
// a first install with Korean and blank names from a list in the ANSI code page, then a run
// that downloads nothing, all over one connection.
#include "engine/SyncEngine.h"
#include "platform/FileSystem.h"
#include "platform/Path.h"
#include "platform/Text.h"
#include "support/FakeView.h"
#include "support/LogCapture.h"
#include "support/Nginx.h"
#include "support/TempDir.h"
#include "support/TestMachine.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

using ::testing::ElementsAre;

using kstest::AccessLine;

class NginxRunTest : public ::testing::Test {
protected:
    kstest::LogCapture log;
    kstest::TestMachine machine;
    kstest::TempDir app;
    kstest::NginxSite site;
    CSyncConfig config{"none.ini"};

    void SetUp() override {
        if (!site.Skip().empty())
            GTEST_SKIP() << site.Skip();
        config.m_strServerIp = "127.0.0.1";
        config.m_nServerPort = site.Port();
        config.m_strDownloadBaseUrl = site.Base() + "/prod";
        config.m_strListFileName = "_listfile.txt";
        config.m_strLocalBaseDir = app.Path();
    }
    void Serve(const std::string& relative, const std::string& bytes) {
        std::string path = site.ServedPath("prod/" + relative);
        ASSERT_TRUE(plat::CreateFolderChain(path.substr(0, plat::LastSepPos(path))));
        ASSERT_TRUE(kstest::WriteFileBytes(path, bytes));
    }
    int Run(kstest::FakeView& view) {
        SyncEnginePtr engine(new CSyncEngine);
        engine->m_pDlg = &view;
        EXPECT_EQ(engine->InitSyncEngine(&config), 0);
        EXPECT_EQ(engine->StartSyncThread(), 0);
        engine->m_pSyncThread->Join();
        return engine->m_nDownloadedFiles;
    }
    std::vector<AccessLine> Requests() const { return site.Requests(); }
};

TEST_F(NginxRunTest, FirstInstallThenNothingToDo) {
    Serve("bin/main.exe", std::string(100000, 'm'));
    Serve("한글 자료/안내 문서.txt", "안내");
    Serve("lib/a.dll", "library");
    Serve("_listfile.txt", plat::Utf8ToAnsi("# sample\nbin/main.exe\n"
                                            "한글 자료/안내 문서.txt,\"한글 자료\\안내 문서.txt\"\n"
                                            "lib/a.dll,lib\\a.dll,SYS,FILE\n"));
    kstest::FakeView first;
    EXPECT_EQ(Run(first), 3);
    EXPECT_THAT(first.Outcomes(), ElementsAre(kSyncDoneComplete));
    EXPECT_EQ(kstest::ReadFileBytes(
                  plat::JoinPath(plat::JoinPath(app.Path(), "한글 자료"), "안내 문서.txt")),
              "안내");
    EXPECT_EQ(kstest::FileSize(plat::JoinPath(plat::JoinPath(app.Path(), "bin"), "main.exe")),
              100000);

    kstest::FakeView second;
    EXPECT_EQ(Run(second), 0);
    EXPECT_THAT(second.Outcomes(), ElementsAre(kSyncDoneComplete));

    const std::vector<AccessLine> requests = Requests();
    ASSERT_EQ(requests.size(), 13u); // 2 + 3 HEAD + 3 GET, then 2 + 3 HEAD
    int gets = 0;
    for (const AccessLine& request : requests)
        gets += request.method == "GET";
    EXPECT_EQ(gets, 5); // the list twice and three files once
    // Each run keeps one connection for all its requests.
    EXPECT_EQ(requests.front().connection, requests[7].connection);
    EXPECT_EQ(requests[8].connection, requests.back().connection);
}

} // namespace
