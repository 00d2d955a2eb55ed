// A workstation kept current from trees published with kestrelsync-publish (made by the test
// PKI's script, tests/pki): the first release installs from a fresh folder, the second one
// costs the list's requests and one GET, and a file tampered with on the server is refused.
#include "config/SyncConfig.h"
#include "engine/SyncEngine.h"
#include "platform/FileSystem.h"
#include "platform/Path.h"
#include "support/FakeView.h"
#include "support/LogCapture.h"
#include "support/Nginx.h"
#include "support/TempDir.h"
#include "support/TestMachine.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

using ::testing::Contains;
using Row = std::pair<int, std::string>;

#ifdef _WIN32
const char* const kList = "_listfile_cp949.txt"; // the Windows updater reads CP949
#else
const char* const kList = "_listfile.txt";
#endif
const char* const kFiles[] = {"a.txt", "bin/b.dll", "한글 자료/안내 문서.txt"};

std::string Native(std::string path) {
    for (char& c : path) {
        if (c == '/')
            c = plat::kPathSep;
    }
    return path;
}

// Run with one connection and with four (trusted mode's staging works the same on both).
class PublishedRunTest : public ::testing::TestWithParam<int> {
protected:
    kstest::LogCapture log;
    kstest::TestMachine machine;
    kstest::TempDir app;
    kstest::NginxSite site;
    std::unique_ptr<CSyncConfig> config;

    void SetUp() override {
        if (!site.Skip().empty())
            GTEST_SKIP() << site.Skip();
        if (kstest::PkiPath("published/v1/a.txt").empty())
            GTEST_SKIP() << "the published trees are made by ctest (tests/pki/make-test-pki.sh)";
        ASSERT_TRUE(plat::CreateFolder(app / "config"));
        ASSERT_TRUE(plat::CopyFileOver(kstest::PkiPath("published/key/KestrelSync.pem"),
                                       app / Native("config/KestrelSync.pem")));
        config = std::make_unique<CSyncConfig>(app / Native("config/KestrelSync.ini"));
        config->m_strServerIp = "127.0.0.1";
        config->m_nServerPort = site.Port();
        config->m_strDownloadBaseUrl = site.Base();
        config->m_strListFileName = kList;
        config->m_strLocalBaseDir = app.Path();
        config->m_nConnections = GetParam();
    }
    void Serve(const char* release) {
        for (const std::string& name :
             {std::string(kList), std::string(kList) + ".sig", std::string(kFiles[0]),
              std::string(kFiles[1]), std::string(kFiles[2])}) {
            const std::string to = site.ServedPath(name);
            ASSERT_TRUE(plat::CreateFolderChain(to.substr(0, plat::LastSepPos(to))));
            ASSERT_TRUE(plat::CopyFileOver(
                kstest::PkiPath(std::string("published/") + release + "/" + name), to));
        }
    }
    void Run(kstest::FakeView& view) {
        SyncEnginePtr engine(new CSyncEngine);
        engine->m_pDlg = &view;
        ASSERT_EQ(engine->InitSyncEngine(config.get()), 0);
        ASSERT_EQ(engine->StartSyncThread(), 0);
        engine->m_pSyncThread->Join();
    }
    bool Installed(const char* release) const {
        for (const char* name : kFiles) {
            if (kstest::ReadFileBytes(app / Native(name)) !=
                kstest::ReadFileBytes(
                    kstest::PkiPath(std::string("published/") + release + "/" + name)))
                return false;
        }
        return true;
    }
};

TEST_P(PublishedRunTest, ReleasesInstallAndATamperedFileIsRefused) {
    Serve("v1");
    kstest::FakeView first;
    Run(first);
    EXPECT_THAT(first.Rows(), Contains(Row(kStatusNormal, "프로그램 다운로드 완료")));
    EXPECT_TRUE(Installed("v1"));

    Serve("v2");
    const std::size_t before = site.Requests().size();
    kstest::FakeView second;
    Run(second);
    EXPECT_TRUE(Installed("v2"));
    std::vector<std::string> requests;
    const std::vector<kstest::AccessLine> all = site.Requests();
    for (std::size_t i = before; i < all.size(); ++i)
        requests.push_back(all[i].method + " " + all[i].uri.substr(all[i].uri.rfind('/') + 1));
    const std::string list = kList;
    EXPECT_THAT(requests, ::testing::ElementsAre("HEAD " + list + "\"", "GET " + list + "\"",
                                                 "GET " + list + ".sig\"", "GET a.txt\""));

    // Other bytes of the same size on the server, and a local copy that looks out of date.
    std::string bytes = kstest::ReadFileBytes(site.ServedPath("bin/b.dll"));
    bytes[0] ^= 0x20;
    ASSERT_TRUE(kstest::WriteFileBytes(site.ServedPath("bin/b.dll"), bytes));
    ASSERT_TRUE(plat::SetFileModifyTime(app / Native("bin/b.dll"), 1000000000));
    kstest::FakeView third;
    third.SetMessageBoxAnswer(kIdNo);
    Run(third);
    EXPECT_THAT(third.Rows(), Contains(Row(kStatusError, "bin/b.dll 파일 다운로드 실패(-8) : "
                                                         "파일 무결성 확인 실패")));
    EXPECT_TRUE(Installed("v2"));
}

INSTANTIATE_TEST_SUITE_P(Connections, PublishedRunTest, ::testing::Values(1, 4));

} // namespace
