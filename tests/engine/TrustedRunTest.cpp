// Whole runs in trusted mode over HTTPS against nginx, from the signed tree of the test PKI: a
// signed update that installs (and a no-op run of three requests), a tampered file that leaves
// the installed one as it was, refused lists and unusable key files that touch nothing, and
// certificates that fail their check.
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

#include <functional>
#include <map>

namespace {

using ::testing::Contains;
using ::testing::HasSubstr;
using Row = std::pair<int, std::string>;

const char* const kTreeFiles[] = {"_listfile.txt", "_listfile.txt.sig", "a.txt", "bin/b.bin",
                                  "doc/c.txt"};

class TrustedRunTest : public ::testing::Test {
protected:
    kstest::LogCapture log;
    kstest::TestMachine machine;
    kstest::TempDir app;
    kstest::NginxSite site;
    std::unique_ptr<kstest::TrustedTestRoot> root;
    std::unique_ptr<CSyncConfig> config;

    void SetUp() override {
        if (!site.Skip().empty())
            GTEST_SKIP() << site.Skip();
        if (kstest::PkiPath("ca.pem").empty())
            GTEST_SKIP() << "the test PKI is made by ctest (tests/pki/make-test-pki.sh)";
        root = std::make_unique<kstest::TrustedTestRoot>();
        ASSERT_TRUE(root->Ok());
        for (const char* name : kTreeFiles) {
            const std::string to = site.ServedPath(name);
            ASSERT_TRUE(plat::CreateFolderChain(to.substr(0, plat::LastSepPos(to))));
            ASSERT_TRUE(plat::CopyFileOver(kstest::PkiPath(std::string("tree/") + name), to));
        }
        ASSERT_TRUE(plat::CreateFolder(app / "config"));
        InstallKey("key1.pub");
        config = std::make_unique<CSyncConfig>(app / "config" + plat::kPathSep + "KestrelSync.ini");
        config->m_strServerIp = "localhost"; // the name in the certificate
        config->m_nServerPort = site.Port("localhost");
        config->m_bUseHttps = true;
        config->m_strDownloadBaseUrl = site.Base();
        config->m_strListFileName = "_listfile.txt";
        config->m_strLocalBaseDir = app.Path();
    }
    void InstallKey(const std::string& name) {
        ASSERT_TRUE(plat::CopyFileOver(kstest::PkiPath(name), app / "config/KestrelSync.pem"));
    }
    void Run(kstest::FakeView& view) {
        SyncEnginePtr engine(new CSyncEngine);
        engine->m_pDlg = &view;
        engine->m_httpTimeouts.strExtraRootsFile = root->ExtraRootsFile();
        ASSERT_EQ(engine->InitSyncEngine(config.get()), 0);
        ASSERT_EQ(engine->StartSyncThread(), 0);
        engine->m_pSyncThread->Join();
    }
    std::string Local(const std::string& relative) const {
        std::string path = relative;
        for (char& c : path) {
            if (c == '/')
                c = plat::kPathSep;
        }
        return app / path;
    }
    // Every file of the program folder with its bytes and time, but for the program's own log
    // folder, where every run writes its result.
    std::map<std::string, std::pair<std::string, std::int64_t>> Snapshot() const {
        std::map<std::string, std::pair<std::string, std::int64_t>> files;
        const std::function<void(const std::string&)> walk = [&](const std::string& folder) {
            std::vector<plat::FoundFile> found;
            plat::FindFiles(plat::JoinPath(folder, "*"), found);
            for (const plat::FoundFile& entry : found) {
                plat::FileStatus status;
                plat::GetFileStatus(entry.strPath, status);
                if (!entry.bFolder)
                    files[entry.strPath] = {kstest::ReadFileBytes(entry.strPath), status.tModify};
                else if (entry.strPath != app / "log")
                    walk(entry.strPath);
            }
        };
        walk(app.Path());
        return files;
    }
};

TEST_F(TrustedRunTest, SignedUpdateInstallsThenATamperedFileLeavesTheOldOne) {
    ASSERT_TRUE(kstest::WriteFileBytes(Local("old.dll"), "obsolete"));
    kstest::FakeView first;
    Run(first);
    EXPECT_THAT(first.Rows(), Contains(Row(kStatusNormal, "프로그램 다운로드 완료")));
    for (const char* name : {"a.txt", "bin/b.bin", "doc/c.txt"})
        EXPECT_EQ(kstest::ReadFileBytes(Local(name)),
                  kstest::ReadFileBytes(kstest::PkiPath(std::string("tree/") + name)))
            << name;
    EXPECT_FALSE(kstest::Exists(Local("old.dll")));
    EXPECT_EQ(ReadListSerial(config->m_strIniPath), 100);

    // Nothing changed: the list, its signature and nothing else.
    const std::size_t before = site.Requests().size();
    kstest::FakeView second;
    Run(second);
    EXPECT_THAT(second.Rows(), Contains(Row(kStatusNormal, "프로그램 다운로드 완료")));
    EXPECT_EQ(site.Requests().size() - before, 3u);

    // The served b.bin is replaced by other bytes of the same size; the local one is made to
    // look out of date, so that it is fetched again.
    std::string bytes = kstest::ReadFileBytes(site.ServedPath("bin/b.bin"));
    bytes[bytes.size() / 2] ^= 0x55;
    ASSERT_TRUE(kstest::WriteFileBytes(site.ServedPath("bin/b.bin"), bytes));
    ASSERT_TRUE(plat::SetFileModifyTime(Local("bin/b.bin"), 1000000000));
    const auto installed = Snapshot();
    kstest::FakeView third;
    third.SetMessageBoxAnswer(kIdNo);
    Run(third);
    EXPECT_THAT(third.Rows(), Contains(Row(kStatusError, "bin/b.bin 파일 다운로드 실패(-8) : 파일 "
                                                         "무결성 확인 실패")));
    EXPECT_THAT(log.LevelsAndMessages(),
                Contains(HasSubstr("ERROR CSyncEngine::DownloadOneFileFromServer> "
                                   "File(bin/b.bin) SHA-256 Mismatch, Expected = ")));
    EXPECT_THAT(third.Outcomes(), ::testing::ElementsAre(kSyncDoneDeclined));
    EXPECT_TRUE(Snapshot() == installed); // byte for byte, times included
}

TEST_F(TrustedRunTest, RefusedListsTouchNothing) {
    kstest::FakeView install;
    Run(install);
    ASSERT_THAT(install.Rows(), Contains(Row(kStatusNormal, "프로그램 다운로드 완료")));
    const std::string list = kstest::ReadFileBytes(site.ServedPath("_listfile.txt"));
    const std::string sig = kstest::ReadFileBytes(site.ServedPath("_listfile.txt.sig"));
    std::string tampered = list;
    tampered.replace(tampered.find("100000"), 6, "100001");
    const struct {
        const char* name;
        std::function<void()> change;
        const char* reason;
    } cases[] = {
        {"tampered list byte",
         [&] { ASSERT_TRUE(kstest::WriteFileBytes(site.ServedPath("_listfile.txt"), tampered)); },
         "matches none of the keys"},
        {"missing signature",
         [&] { ASSERT_TRUE(plat::RemoveFile(site.ServedPath("_listfile.txt.sig"))); },
         "status 404"},
        {"signature of another list",
         [&] {
             ASSERT_TRUE(plat::CopyFileOver(kstest::PkiPath("other.txt.sig"),
                                            site.ServedPath("_listfile.txt.sig")));
         },
         "matches none of the keys"},
        {"serial lower than the kept one",
         [&] { ASSERT_TRUE(WriteListSerial(config->m_strIniPath, 101)); },
         "lower than the serial 101"},
        {"signed by a key the workstation lacks", [&] { InstallKey("key2.pub"); },
         "matches none of the keys"},
    };
    for (const auto& c : cases) {
        c.change();
        const auto before = Snapshot();
        kstest::FakeView view;
        Run(view);
        EXPECT_THAT(view.Rows(), Contains(Row(kStatusError, "리스트 파일 서명 확인 실패")))
            << c.name;
        EXPECT_THAT(log.LevelsAndMessages(),
                    Contains(HasSubstr("ERROR CSyncEngine::VerifyListFile> Fail, Reason = ")))
            << c.name;
        EXPECT_THAT(log.Messages(), Contains(HasSubstr(c.reason))) << c.name;
        ASSERT_EQ(view.MessageBoxes().size(), 1u) << c.name;
        EXPECT_EQ(view.MessageBoxes()[0].strText,
                  "리스트 파일을 가져오는 도중에 오류가 발생했습니다.\r\n잠시후에 재시도 하여 "
                  "주십시요.");
        EXPECT_THAT(view.Outcomes(), ::testing::ElementsAre(kSyncDoneNoList)) << c.name;
        EXPECT_TRUE(Snapshot() == before) << c.name;
        // The next case starts from the served tree as published.
        ASSERT_TRUE(kstest::WriteFileBytes(site.ServedPath("_listfile.txt"), list));
        ASSERT_TRUE(kstest::WriteFileBytes(site.ServedPath("_listfile.txt.sig"), sig));
        ASSERT_TRUE(WriteListSerial(config->m_strIniPath, 100));
        InstallKey("key1.pub");
    }
}

TEST_F(TrustedRunTest, UnusableKeyFilesAndCertificatesStopTheRun) {
    for (const char* key : {"garbage.pub", "empty.pub", "p384.pub"}) {
        InstallKey(key);
        const std::size_t before = site.Requests().size();
        kstest::FakeView view;
        Run(view);
        EXPECT_THAT(view.Rows(), Contains(Row(kStatusError, "서명 키 파일 오류"))) << key;
        EXPECT_THAT(log.LevelsAndMessages(),
                    Contains("ERROR CSyncEngine::LoadListKey> Invalid Key File(" +
                             Local("config/KestrelSync.pem") + ")"));
        EXPECT_THAT(view.Outcomes(), ::testing::ElementsAre(kSyncDoneNoList)) << key;
        EXPECT_EQ(site.Requests().size(), before) << key; // no request at all
    }
    InstallKey("key1.pub");
    for (const char* server : {"untrusted", "otherhost"}) {
        config->m_nServerPort = site.Port(server);
        kstest::FakeView view;
        Run(view);
        EXPECT_THAT(view.Rows(), Contains(Row(kStatusError, "다운로드 대상 리스트 파일 정보 추출 "
                                                            "실패(에러코드 : -9)")))
            << server;
        EXPECT_FALSE(kstest::Exists(Local("a.txt"))) << server;
    }
    EXPECT_THAT(log.Matching("GetServerFileInfo>> Exception Msg = "), ::testing::SizeIs(2));
}

} // namespace
