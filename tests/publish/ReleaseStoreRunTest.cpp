// Workstations kept current from a release store that nginx serves, published with the
// operators' tool as operators publish: a first release installs, a phased release reaches the
// first group and leaves the last one on the release it has, a rollback brings the files back
// byte for byte, and a workstation that runs while releases are published never fails a run.
#include "config/SyncConfig.h"
#include "engine/SyncEngine.h"
#include "platform/FileSystem.h"
#include "platform/Path.h"
#include "support/FakeView.h"
#include "support/LogCapture.h"
#include "support/NativeTool.h"
#include "support/Nginx.h"
#include "support/TempDir.h"
#include "support/TestMachine.h"
#include "trust/SignedList.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <thread>

namespace {

using ::testing::Contains;
using Row = std::pair<int, std::string>;
using Tree = std::map<std::string, std::string>; // path with "/" to content

#ifdef _WIN32
const char* const kEncoding = "cp949"; // the Windows updater reads CP949
#else
const char* const kEncoding = "utf-8";
#endif

std::string Native(std::string path) {
    for (char& c : path) {
        if (c == '/')
            c = plat::kPathSep;
    }
    return path;
}

const Tree kV1 = {{"a.txt", "first release\n"},
                  {"bin/b.dll", std::string(70000, 'b')},
                  {"한글 자료/안내 문서.txt", "안내 1"}};
const Tree kV2 = {{"a.txt", "second release, a longer text\n"},
                  {"bin/b.dll", std::string(70000, 'b')},
                  {"한글 자료/안내 문서.txt", "안내 1"},
                  {"c.txt", "new in the second release"}};

class ReleaseStoreRunTest : public ::testing::Test {
protected:
    kstest::LogCapture log;
    kstest::TestMachine machine;
    kstest::NginxSite site;
    kstest::TempDir keys;
    kstest::TempDir pilot; // ROLLOUT_GROUP=0
    kstest::TempDir late;  // ROLLOUT_GROUP=6

    void SetUp() override {
        if (!site.Skip().empty())
            GTEST_SKIP() << site.Skip();
        if (!kstest::PublishToolSkip().empty())
            GTEST_SKIP() << kstest::PublishToolSkip();
        ASSERT_EQ(kstest::RunPublishTool({"keygen", kstest::PosixPath(keys.Path())}), 0);
        for (const auto& [name, tree] : {std::make_pair("v1", &kV1), std::make_pair("v2", &kV2)})
            MakeTree(site.ServedPath(std::string("trees/") + name), *tree);
        for (const kstest::TempDir* app : {&pilot, &late}) {
            ASSERT_TRUE(plat::CreateFolder(*app / "config"));
            ASSERT_TRUE(plat::CopyFileOver(keys / "KestrelSync.pem",
                                           *app / Native("config/KestrelSync.pem")));
        }
    }
    static void MakeTree(const std::string& root, const Tree& tree) {
        for (const auto& [path, content] : tree) {
            const std::string file = plat::JoinPath(root, Native(path));
            ASSERT_TRUE(plat::CreateFolderChain(file.substr(0, plat::LastSepPos(file))));
            ASSERT_TRUE(kstest::WriteFileBytes(file, content));
            ASSERT_TRUE(plat::SetFileModifyTime(file, 1760000000 + content.size()));
        }
    }
    std::string Store() const { return kstest::PosixPath(site.ServedPath("store")); }
    int Publish(std::vector<std::string> arguments) const {
        const std::vector<std::string> store = {"--store", Store(), "--key",
                                                kstest::PosixPath(keys / "list-signing.key")};
        arguments.insert(arguments.end(), store.begin(), store.end());
        if (arguments[0] == "release") {
            arguments.push_back("--encoding");
            arguments.push_back(kEncoding);
        }
        std::string output;
        const int nStatus = kstest::RunPublishTool(arguments, &output);
        EXPECT_EQ(nStatus, 0) << output;
        return nStatus;
    }
    std::string Release(const char* tree) const {
        return kstest::PosixPath(site.ServedPath(std::string("trees/") + tree));
    }
    std::int64_t LiveSerial() const {
        std::int64_t nSerial = 0;
        ListSerial(kstest::ReadFileBytes(site.ServedPath("store/_listfile.txt")), nSerial);
        return nSerial;
    }
    std::unique_ptr<CSyncConfig> Workstation(const kstest::TempDir& app, int group) const {
        auto config = std::make_unique<CSyncConfig>(app / Native("config/KestrelSync.ini"));
        config->m_strServerIp = "127.0.0.1";
        config->m_nServerPort = site.Port();
        config->m_strDownloadBaseUrl = site.Base() + "/store";
        config->m_strListFileName = "_listfile.txt";
        config->m_strLocalBaseDir = app.Path();
        config->m_nRolloutGroup = group;
        return config;
    }
    // One run of the workstation; its status rows.
    std::vector<Row> Run(const kstest::TempDir& app, int group) const {
        const std::unique_ptr<CSyncConfig> config = Workstation(app, group);
        kstest::FakeView view;
        view.SetMessageBoxAnswer(kIdNo);
        SyncEnginePtr engine(new CSyncEngine);
        engine->m_pDlg = &view;
        EXPECT_EQ(engine->InitSyncEngine(config.get()), 0);
        EXPECT_EQ(engine->StartSyncThread(), 0);
        engine->m_pSyncThread->Join();
        return view.Rows();
    }
    static bool Installed(const kstest::TempDir& app, const Tree& tree) {
        for (const auto& [path, content] : tree) {
            if (kstest::ReadFileBytes(app / Native(path)) != content)
                return false;
        }
        return true;
    }
    // The requests nginx logged from the index first on, as "METHOD name".
    std::vector<std::string> RequestsSince(std::size_t first) const {
        std::vector<std::string> requests;
        const std::vector<kstest::AccessLine> all = site.Requests();
        for (std::size_t i = first; i < all.size(); ++i)
            requests.push_back(all[i].method + " " + all[i].uri.substr(all[i].uri.rfind('/') + 1));
        return requests;
    }
};

bool Failed(const std::vector<Row>& rows) {
    for (const Row& row : rows) {
        if (row.first == kStatusError)
            return true;
    }
    return false;
}

TEST_F(ReleaseStoreRunTest, PhasedReleaseRollbackAndRunsWhilePublishing) {
    const Row done(kStatusNormal, "프로그램 다운로드 완료");
    ASSERT_EQ(Publish({"release", Release("v1")}), 0);
    const std::int64_t nFirst = LiveSerial();
    for (const auto* app : {&pilot, &late}) {
        EXPECT_THAT(Run(*app, app == &pilot ? 0 : 6), Contains(done));
        EXPECT_TRUE(Installed(*app, kV1));
    }

    // Phased over 48 hours: group 0 takes it now, group 6 in two days.
    ASSERT_EQ(Publish({"release", Release("v2"), "--phased", "48"}), 0);
    EXPECT_THAT(Run(pilot, 0), Contains(done));
    EXPECT_TRUE(Installed(pilot, kV2));
    const std::size_t before = site.Requests().size();
    const std::vector<Row> waiting = Run(late, 6);
    EXPECT_FALSE(Failed(waiting));
    EXPECT_THAT(waiting, Contains(::testing::Pair(
                             kStatusNormal,
                             ::testing::MatchesRegex("새 버전은 .* 이후에 이 PC에 설치됩니다"))));
    EXPECT_THAT(RequestsSince(before),
                ::testing::ElementsAre("HEAD _listfile.txt\"", "GET _listfile.txt\""));
    EXPECT_TRUE(Installed(late, kV1));
    EXPECT_FALSE(kstest::Exists(late / "c.txt"));

    // The rollback is a new release of the first one's files, due everywhere at once.
    ASSERT_EQ(Publish({"rollback", "--to", std::to_string(nFirst)}), 0);
    EXPECT_GT(LiveSerial(), nFirst);
    for (const auto* app : {&pilot, &late}) {
        EXPECT_THAT(Run(*app, app == &pilot ? 0 : 6), Contains(done));
        EXPECT_TRUE(Installed(*app, kV1));
    }
    const std::size_t noop = site.Requests().size();
    EXPECT_THAT(Run(pilot, 0), Contains(done));
    EXPECT_THAT(RequestsSince(noop),
                ::testing::ElementsAre("HEAD _listfile.txt\"", "GET _listfile.txt\""));

    // Releases published one after the other while the workstation runs.
    std::atomic<bool> bPublishing{true};
    std::thread publisher([&] {
        for (int i = 0; i < 30; ++i)
            Publish({"release", Release(i % 2 == 0 ? "v2" : "v1")});
        bPublishing = false;
    });
    int nRuns = 0;
    while (bPublishing || nRuns < 3) {
        const std::vector<Row> rows = Run(pilot, 0);
        EXPECT_FALSE(Failed(rows)) << "run " << nRuns;
        EXPECT_THAT(rows, Contains(done)) << "run " << nRuns;
        EXPECT_TRUE(Installed(pilot, kV1) || Installed(pilot, kV2)) << "run " << nRuns;
        ++nRuns;
    }
    publisher.join();
}

} // namespace
