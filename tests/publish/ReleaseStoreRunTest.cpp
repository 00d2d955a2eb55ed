// Workstations kept current from a release store that nginx serves, published with the
// operators' tool as operators publish: a first release installs, a phased release reaches the
// first group and leaves the last one on the release it has, a rollback brings the files back
// byte for byte, and a workstation that runs while releases are published never fails a run.
#include "codec/Zstd.h"
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
#include "trust/FormIndex.h"
#include "trust/SignedList.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#endif

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
    std::string Store(const std::string& below = "store") const {
        return kstest::PosixPath(site.ServedPath(below));
    }
    int Publish(std::vector<std::string> arguments, const std::string& below = "store") const {
        const std::vector<std::string> store = {"--store", Store(below), "--key",
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
        return Run(*Workstation(app, group));
    }
    static std::vector<Row> Run(const CSyncConfig& config) {
        kstest::FakeView view;
        view.SetMessageBoxAnswer(kIdNo);
        SyncEnginePtr engine(new CSyncEngine);
        engine->m_pDlg = &view;
        EXPECT_EQ(engine->InitSyncEngine(&config), 0);
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

// The download server is down (nothing listens on its port): the list and the files come from
// the mirrors. The first mirror serves one object altered; that file alone is fetched from the
// next mirror. Then every server is down: the usual list failure, each server asked once.
TEST_F(ReleaseStoreRunTest, MirrorsServeWhenTheServerIsDown) {
    for (const char* mirror : {"mirror-bad", "mirror-good"}) {
        ASSERT_TRUE(plat::CreateFolderChain(site.ServedPath(mirror)));
        ASSERT_EQ(Publish({"release", Release("v1")}, std::string(mirror) + "/store"), 0);
    }
    const std::string hash = Sha256HexOf(kV1.at("a.txt"));
    const std::string object = "objects/" + hash.substr(0, 2) + "/" + hash;
    const std::string altered = site.ServedPath("mirror-bad/store/" + object);
    std::string bytes = kstest::ReadFileBytes(altered);
    bytes[0] = static_cast<char>(bytes[0] ^ 1);
    ASSERT_TRUE(kstest::WriteFileBytes(altered, bytes));

    const std::unique_ptr<CSyncConfig> config = Workstation(pilot, 0);
    config->m_nServerPort = 1;
    config->m_strDownloadBaseUrl = "/store";
    const std::string mirrors = "127.0.0.1:" + std::to_string(site.Port()) + "/" + site.Base();
    config->m_strMirrors = "not a mirror; " + mirrors + "/mirror-bad;" + mirrors + "/mirror-good/";
    const std::size_t before = site.Requests().size();
    EXPECT_THAT(Run(*config), Contains(Row(kStatusNormal, "프로그램 다운로드 완료")));
    EXPECT_TRUE(Installed(pilot, kV1));

    std::vector<std::string> requests;
    const std::vector<kstest::AccessLine> all = site.Requests();
    for (std::size_t i = before; i < all.size(); ++i) {
        const std::string& uri = all[i].uri;
        const std::size_t from = uri.find("/mirror-") + 1;
        const std::string mirror = uri.substr(from, uri.find("/store") - from);
        const std::string name = uri.substr(uri.rfind('/') + 1, 6);
        requests.push_back(all[i].method + " " + mirror + " " + name);
    }
    const std::string a = hash.substr(0, 6);
    const std::string b = Sha256HexOf(kV1.at("bin/b.dll")).substr(0, 6);
    const std::string c = Sha256HexOf(kV1.at("한글 자료/안내 문서.txt")).substr(0, 6);
    CFormsRef forms;
    ASSERT_TRUE(ReadFormsRef(
        kstest::ReadFileBytes(site.ServedPath("mirror-bad/store/_listfile.txt")), forms));
    EXPECT_THAT(requests,
                ::testing::UnorderedElementsAre("HEAD mirror-bad _listf", "GET mirror-bad _listf",
                                                "GET mirror-bad " + forms.strHash.substr(0, 6),
                                                "GET mirror-bad " + a, "GET mirror-good " + a,
                                                "GET mirror-bad " + b, "GET mirror-bad " + c));
    EXPECT_EQ(log.Matching("Server(127.0.0.1:1) Failed").size(), 1u);
    EXPECT_EQ(log.Matching("MIRRORS Entry [not a mirror]").size(), 1u);
    const std::string listServer = mirrors + "/mirror-bad";
    EXPECT_EQ(log.Matching("List File Server = " + listServer).size(), 1u);
    EXPECT_NE(kstest::ReadFileBytes(pilot / Native("log/last-run.json"))
                  .find("\"server\": \"" + listServer + "\""),
              std::string::npos);

    config->m_strMirrors = "127.0.0.1:2;127.0.0.1:3/base";
    const std::vector<Row> rows = Run(*config);
    EXPECT_THAT(rows, Contains(::testing::Pair(
                          kStatusError, ::testing::HasSubstr("리스트 파일 정보 추출 실패"))));
    // The configured server failed once in each run.
    for (const auto& [server, count] :
         {std::make_pair("127.0.0.1:1)", 2u), std::make_pair("127.0.0.1:2)", 1u),
          std::make_pair("127.0.0.1:3/base)", 1u)})
        EXPECT_EQ(log.Matching(std::string("Server(") + server + " Failed").size(), count)
            << server;
}

// The files below from copied into to (an existing folder), folders included.
bool CopyTree(const std::string& from, const std::string& to) {
    std::vector<plat::FoundFile> found;
    plat::FindFiles(plat::JoinPath(from, "*"), found);
    for (const plat::FoundFile& entry : found) {
        const std::string target = plat::JoinPath(to, entry.strName);
        if (entry.bFolder ? !plat::CreateFolder(target) || !CopyTree(entry.strPath, target)
                          : !plat::CopyFileOver(entry.strPath, target))
            return false;
    }
    return true;
}

// A request's path below the store, without the log's closing quote.
std::string StorePathOf(const std::string& uri) {
    const std::size_t from = uri.find("/store/") + 7;
    return uri.substr(from, uri.size() - from - (uri.back() == '"' ? 1 : 0));
}

// Two releases of a program whose library changed a little and that gained a data file: a
// workstation on the first release takes the patch and the compressed copy, not the objects;
// another one, whose patch on the server is damaged, takes the compressed copy instead; a new
// workstation whose compressed copy is a decompression bomb takes the object.
TEST_F(ReleaseStoreRunTest, PatchesAndCompressedCopiesWithTheirFallbacks) {
    const Tree f1 = {{"lib/core.dll", kstest::WordsText(1, 600000, 0)}, {"a.txt", "unchanged"}};
    const Tree f2 = {{"lib/core.dll", kstest::WordsText(1, 600000, 3)},
                     {"a.txt", "unchanged"},
                     {"data/new.dat", kstest::WordsText(2, 120000, 1)}};
    MakeTree(site.ServedPath("trees/f1"), f1);
    MakeTree(site.ServedPath("trees/f2"), f2);
    ASSERT_EQ(Publish({"release", Release("f1")}), 0);
    kstest::TempDir edited;
    ASSERT_TRUE(plat::CreateFolder(edited / "config"));
    ASSERT_TRUE(
        plat::CopyFileOver(keys / "KestrelSync.pem", edited / Native("config/KestrelSync.pem")));
    for (const auto* app : {&pilot, &late, &edited}) {
        Run(*app, 0);
        ASSERT_TRUE(Installed(*app, f1));
    }
    ASSERT_EQ(Publish({"release", Release("f2")}), 0);

    const std::string core1 = Sha256HexOf(f1.at("lib/core.dll"));
    const std::string core2 = Sha256HexOf(f2.at("lib/core.dll"));
    const std::string data = Sha256HexOf(f2.at("data/new.dat"));
    const std::string patch = "patches/" + core2.substr(0, 2) + "/" + core2 + "/" + core1 + ".zst";
    const std::string copy = "objects/" + data.substr(0, 2) + "/" + data + ".zst";
    std::size_t before = site.Requests().size();
    EXPECT_THAT(Run(pilot, 0), Contains(Row(kStatusNormal, "프로그램 다운로드 완료")));
    EXPECT_TRUE(Installed(pilot, f2));
    std::vector<std::string> fetched;
    for (std::size_t i = before; i < site.Requests().size(); ++i)
        fetched.push_back(StorePathOf(site.Requests()[i].uri));
    ASSERT_EQ(fetched.size(), 5u) << ::testing::PrintToString(fetched);
    EXPECT_EQ(fetched[2].substr(0, 6), "forms/");
    EXPECT_THAT(fetched, ::testing::IsSupersetOf({patch, copy}));

    // A library whose bytes changed here while it kept its time and size: the list installed
    // before says which content it holds, and the patch from there decodes to other bytes
    // against it; the compressed copy comes instead.
    const std::string lib = edited / Native("lib/core.dll");
    plat::FileStatus kept;
    ASSERT_TRUE(plat::GetFileStatus(lib, kept));
    std::string mine = kstest::ReadFileBytes(lib);
    mine[1000] = mine[1000] == 'x' ? 'y' : 'x';
    ASSERT_TRUE(kstest::WriteFileBytes(lib, mine));
    ASSERT_TRUE(plat::SetFileModifyTime(lib, kept.tModify));
    EXPECT_THAT(Run(edited, 0), Contains(Row(kStatusNormal, "프로그램 다운로드 완료")));
    EXPECT_TRUE(Installed(edited, f2));
    EXPECT_EQ(log.Matching("Form " + patch + " Of File").size(), 1u);
    EXPECT_EQ(log.Matching("decoding failed").size(), 1u);

    // The patch damaged on the server: its own hash fails, the compressed copy of the library
    // comes instead.
    std::string bytes = kstest::ReadFileBytes(site.ServedPath("store/" + patch));
    bytes[bytes.size() / 2] = static_cast<char>(bytes[bytes.size() / 2] ^ 0x55);
    ASSERT_TRUE(kstest::WriteFileBytes(site.ServedPath("store/" + patch), bytes));
    before = site.Requests().size();
    EXPECT_THAT(Run(late, 6), Contains(Row(kStatusNormal, "프로그램 다운로드 완료")));
    EXPECT_TRUE(Installed(late, f2));
    fetched.clear();
    for (std::size_t i = before; i < site.Requests().size(); ++i)
        fetched.push_back(StorePathOf(site.Requests()[i].uri));
    const std::string coreCopy = "objects/" + core2.substr(0, 2) + "/" + core2 + ".zst";
    EXPECT_THAT(fetched, ::testing::IsSupersetOf({patch, coreCopy}));
    EXPECT_GT(plat::FileSizeOf(site.ServedPath("store/" + coreCopy)), 64 * 1024);
    EXPECT_EQ(log.Matching("Form " + patch).size(), 2u);

    // A branch office: the servers hold only the live list, the local store a copy of the
    // store in which the compressed copy of the data file is damaged.
    kstest::TempDir branch;
    kstest::TempDir local;
    ASSERT_TRUE(CopyTree(site.ServedPath("store"), local.Path()));
    ASSERT_TRUE(plat::CreateFolderChain(site.ServedPath("listonly/store")));
    ASSERT_TRUE(plat::CopyFileOver(site.ServedPath("store/_listfile.txt"),
                                   site.ServedPath("listonly/store/_listfile.txt")));
    ASSERT_TRUE(kstest::WriteFileBytes(local / Native(copy), "not zstd at all"));
    ASSERT_TRUE(plat::CreateFolder(branch / "config"));
    ASSERT_TRUE(
        plat::CopyFileOver(keys / "KestrelSync.pem", branch / Native("config/KestrelSync.pem")));
    std::unique_ptr<CSyncConfig> config = Workstation(branch, 0);
    config->m_strDownloadBaseUrl = site.Base() + "/listonly/store";
    config->m_strLocalStore = local.Path();
    before = site.Requests().size();
    EXPECT_THAT(Run(*config), Contains(Row(kStatusNormal, "프로그램 다운로드 완료")));
    EXPECT_TRUE(Installed(branch, f2));
    EXPECT_EQ(site.Requests().size() - before, 2u); // the list's HEAD and GET
    EXPECT_EQ(log.Matching("Form LOCAL_STORE " + copy).size(), 1u);

    // The compressed copy of the data file replaced by a bomb (20 MiB of zeros) that the index
    // and the list, signed again, name: its decoding stops at the list's size and the object
    // comes instead.
    std::string bomb;
    ASSERT_TRUE(ZstdCompress(std::string(std::size_t{20} << 20, '\0'), bomb));
    ASSERT_TRUE(kstest::WriteFileBytes(site.ServedPath("store/" + copy), bomb));
    std::string body, signature;
    ASSERT_TRUE(SplitCarriedSignature(kstest::ReadFileBytes(site.ServedPath("store/_listfile.txt")),
                                      body, signature));
    CFormsRef ref;
    ASSERT_TRUE(ReadFormsRef(body, ref));
    std::string index =
        kstest::ReadFileBytes(site.ServedPath("store/" + FormsIndexPath(ref.strHash)));
    const std::size_t line = index.find(data + ",z,");
    ASSERT_NE(line, std::string::npos);
    index.replace(line, index.find('\n', line) - line,
                  data + ",z," + std::to_string(bomb.size()) + "," + Sha256HexOf(bomb));
    const CFormsRef bombRef{Sha256HexOf(index), static_cast<std::int64_t>(index.size())};
    ASSERT_TRUE(
        kstest::WriteFileBytes(site.ServedPath("store/" + FormsIndexPath(bombRef.strHash)), index));
    body.replace(body.find(FormsRefLine(ref)), FormsRefLine(ref).size(), FormsRefLine(bombRef));
    ASSERT_TRUE(kstest::WriteFileBytes(site.ServedPath("store/_listfile.txt"), body));
    ASSERT_EQ(kstest::RunPublishTool({"sign", Store() + "/_listfile.txt", "--key",
                                      kstest::PosixPath(keys / "list-signing.key")}),
              0);
    kstest::TempDir fresh;
    ASSERT_TRUE(plat::CreateFolder(fresh / "config"));
    ASSERT_TRUE(
        plat::CopyFileOver(keys / "KestrelSync.pem", fresh / Native("config/KestrelSync.pem")));
    EXPECT_THAT(Run(fresh, 0), Contains(Row(kStatusNormal, "프로그램 다운로드 완료")));
    EXPECT_TRUE(Installed(fresh, f2));
    EXPECT_EQ(log.Matching("Form " + copy).size(), 1u);
    EXPECT_EQ(log.Matching("decoding failed").size(), 2u);
}

// Eight files of one content on four connections: the store holds one object, and the
// workstation fetches it once, the other seven finding it staged; items that share a content
// share the staged file and are never in flight at once.
TEST_F(ReleaseStoreRunTest, FilesOfOneContentAreFetchedOnce) {
    Tree same;
    std::string content(4000000, '\0');
    std::uint32_t seed = 7;
    for (char& c : content) {
        seed = seed * 1664525u + 1013904223u;
        c = static_cast<char>(seed >> 24);
    }
    for (int i = 0; i < 8; ++i)
        same["copy" + std::to_string(i) + ".dat"] = content;
    MakeTree(site.ServedPath("trees/same"), same);
    ASSERT_EQ(Publish({"release", Release("same"), "--patches", "0"}), 0);
    const std::unique_ptr<CSyncConfig> config = Workstation(pilot, 0);
    config->m_nConnections = 4;
    const std::size_t before = site.Requests().size();
    EXPECT_THAT(Run(*config), Contains(Row(kStatusNormal, "프로그램 다운로드 완료")));
    EXPECT_TRUE(Installed(pilot, same));
    const std::string hash = Sha256HexOf(content);
    int nGets = 0;
    for (std::size_t i = before; i < site.Requests().size(); ++i)
        nGets += site.Requests()[i].uri.find(hash) != std::string::npos ? 1 : 0;
    EXPECT_EQ(nGets, 1);
}

#ifdef _WIN32
// Fills the stack below the caller, where the next calls keep their locals, with handle.
__attribute__((noinline)) void LeaveOnTheStack(HANDLE handle) {
    volatile HANDLE copies[8192];
    for (volatile HANDLE& copy : copies)
        copy = handle;
}

// The tool runs under Wine as a host program, for which Wine gives back no handles: a harness
// that waited on and closed what it was handed closed a live handle of this process (once the
// event behind Winsock's calls, and every later bind failed).
TEST_F(ReleaseStoreRunTest, RunsOfTheToolLeaveThisProcessHandlesAlone) {
    const HANDLE event = ::CreateEventW(nullptr, TRUE, TRUE, nullptr);
    ASSERT_NE(event, nullptr);
    for (int i = 0; i < 4; ++i) {
        const kstest::TempDir made;
        LeaveOnTheStack(event);
        EXPECT_EQ(kstest::RunPublishTool({"keygen", kstest::PosixPath(made.Path())}), 0);
        EXPECT_EQ(::WaitForSingleObject(event, 0), WAIT_OBJECT_0) << "after run " << i;
    }
    ::CloseHandle(event);
}
#endif

} // namespace
