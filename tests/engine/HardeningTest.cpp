// What an unlucky workstation and a hostile server do to a run: a process killed in the middle
// of a download, Stop while the server is silent, servers that trickle or flood interim
// answers, a list file too large to take, and a full disk.
#include "platform/FileSystem.h"
#include "platform/InstanceLock.h"
#include "platform/Path.h"
#include "platform/Process.h"
#include "platform/Text.h"
#include "support/ChildProcess.h"
#include "support/RunFixture.h"
#include "support/ScopedEnv.h"
#include "transfer/HttpDate.h"
#include "transfer/Transfer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

#ifndef _WIN32
#include <sys/mount.h>
#endif

namespace {

using kstest::HttpRequestSeen;
using kstest::HttpScriptedResponse;
using kstest::TempDir;
using ::testing::Contains;
using ::testing::HasSubstr;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kVictimSize = 2000000;
constexpr std::size_t kSentBeforeKill = 300000;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

class HardeningTest : public kstest::RunFixture {
protected:
    kstest::FakeView view;

    SyncEnginePtr Engine(const plat::HttpTimeouts& timeouts = plat::HttpTimeouts()) {
        SyncEnginePtr engine = NewEngine(view, timeouts);
        EXPECT_EQ(engine->InitSyncEngine(&config), 0);
        return engine;
    }
    void Run() { RunFixture::Run(view); }
    DownFileItem Item(const std::string& name, std::size_t size) const {
        DownFileItem item;
        item.m_strServerFile = name;
        item.m_strTargetFile = app / name;
        item.m_strFileSize = std::to_string(size);
        item.m_strModifyTime = FormatModifyTime(kServerTime);
        item.m_nFileClass = kFileClassSys;
        return item;
    }
};

std::string Victim() {
    std::string bytes(kVictimSize, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>('A' + i % 23);
    return bytes;
}

// The child of KilledSystemDownloadIsRepairedByTheNextRun: a run of the list into the
// parent's program folder, whose download of the victim the parent kills. Runs only when that
// test starts it.
TEST(HardeningChild, DISABLED_DownloadUntilKilled) {
    const char* port = std::getenv("KS_CHILD_PORT");
    const char* base = std::getenv("KS_CHILD_BASE");
    if (port == nullptr || base == nullptr)
        GTEST_SKIP() << "started by KilledSystemDownloadIsRepairedByTheNextRun only";
    kstest::TestMachine machine;
    kstest::FakeView view;
    const CSyncConfig config =
        kstest::RunFixture::RunConfig("none.ini", base, std::atoi(port), "base");
    kstest::RunFixture::RunToEnd(config, view); // the server stalls the victim until the kill
}

TEST_F(HardeningTest, KilledSystemDownloadIsRepairedByTheNextRun) {
    const std::string victim = Victim();
    Serve("victim.bin", victim);
    Serve("_listfile.txt", "victim.bin,victim.bin,SYS\n");
    server.SetHandler([this](const HttpRequestSeen& request) {
        HttpScriptedResponse response = server.FolderResponse(request);
        response.nStallAfter = kSentBeforeKill;
        return response;
    });
    const std::string target = app / "victim.bin";
    const std::string temp = DownloadTempPath(target);
    const std::string marker = plat::JoinPath(app / "config", "KestrelSync.downloads");
    {
        const kstest::ScopedEnv port("KS_CHILD_PORT", std::to_string(server.Port()));
        const kstest::ScopedEnv where("KS_CHILD_BASE", app.Path());
        kstest::ChildProcess child;
        ASSERT_TRUE(child.Start(plat::GetModulePath(),
                                kstest::OnlyTest("HardeningChild.DISABLED_DownloadUntilKilled")));
        // The child's last read (up to 64 KB) may still wait for bytes that never come, and
        // its last block may be in its stream's buffer.
        const std::int64_t nOnDisk = kSentBeforeKill - 64 * 1024 - 4096;
        const auto start = Clock::now();
        while (kstest::FileSize(temp) < nOnDisk && SecondsSince(start) < 60)
            plat::SleepMs(20);
        ASSERT_GE(kstest::FileSize(temp), nOnDisk);
        child.Kill();
        child.Wait(10000);
    }
    server.ReleaseStalls();
    // The killed process left its temporary file, never a truncated system file, and the
    // mark that makes the next run look for such files.
    EXPECT_FALSE(kstest::Exists(target));
    EXPECT_TRUE(kstest::Exists(temp));
    EXPECT_TRUE(kstest::Exists(marker));

    server.SetHandler(
        [this](const HttpRequestSeen& request) { return server.FolderResponse(request); });
    Run();
    EXPECT_TRUE(kstest::ReadFileBytes(target) == victim);
    EXPECT_FALSE(kstest::Exists(temp));
    EXPECT_FALSE(kstest::Exists(marker));
    EXPECT_THAT(view.Rows(), Contains(Row(kStatusNormal, "프로그램 다운로드 완료")));

    // What a run killed in the download of a file that is current again leaves: the next run
    // fetches nothing and clears both away.
    ASSERT_TRUE(kstest::WriteFileBytes(temp, victim.substr(0, 1000)));
    ASSERT_TRUE(kstest::WriteFileBytes(marker, ""));
    Run();
    EXPECT_FALSE(kstest::Exists(temp));
    EXPECT_FALSE(kstest::Exists(marker));
    EXPECT_TRUE(kstest::ReadFileBytes(target) == victim);
}

TEST_F(HardeningTest, StopEndsATransferThatWaitsForTheServer) {
    struct Case {
        const char* name;
        HttpScriptedResponse response;
    };
    HttpScriptedResponse silent;
    silent.bStallBeforeHeaders = true;
    HttpScriptedResponse midBody;
    midBody.strBody = std::string(100000, 'x');
    midBody.nStallAfter = 1000;
    for (const Case& c : {Case{"no answer", silent}, Case{"stalled body", midBody}}) {
        server.SetHandler([&c](const HttpRequestSeen&) { return c.response; });
        SyncEnginePtr engine = Engine(); // the 60-second receive time-out
        std::thread stop([&engine] {
            plat::SleepMs(300);
            RequestStop(*engine);
        });
        const auto start = Clock::now();
        EXPECT_EQ(engine->DownloadOneFileFromServer(Item("slow.bin", 100000), 1, 1), -7) << c.name;
        const double seconds = SecondsSince(start);
        stop.join();
        server.ReleaseStalls();
        EXPECT_LT(seconds, 5.0) << c.name; // not the 60 s of the receive time-out
        RecordProperty(std::string("stop_seconds_") + (c.response.bStallBeforeHeaders ? "a" : "b"),
                       std::to_string(seconds));
    }
    EXPECT_THAT(log.Messages(),
                Contains("CSyncEngine::DownloadOneFileFromServer> m_nRequestStopFlag = 1"));
}

TEST_F(HardeningTest, TricklingBodyAndInterimFloodEndInBoundedTime) {
    plat::HttpTimeouts timeouts;
    timeouts.nHeadMs = 2000;
    timeouts.nLowSpeedSeconds = 2;
    HttpScriptedResponse trickle;
    trickle.headers = {{"Last-Modified", kstest::HttpDate(kServerTime)}};
    trickle.strBody = std::string(200, 't');
    trickle.nTrickleMs = 100; // 10 bytes a second: 20 s for the whole body
    server.SetHandler([&trickle](const HttpRequestSeen&) { return trickle; });
    SyncEnginePtr engine = Engine(timeouts);
    auto start = Clock::now();
    EXPECT_EQ(engine->DownloadOneFileFromServer(Item("trickle.bin", 200), 1, 1), -6);
    const double trickleSeconds = SecondsSince(start);
    EXPECT_LT(trickleSeconds, 12.0);
    EXPECT_FALSE(kstest::Exists(DownloadTempPath(app / "trickle.bin")));

    HttpScriptedResponse flood;
    flood.nInterimEveryMs = 100;
    server.SetHandler([&flood](const HttpRequestSeen&) { return flood; });
    engine = Engine(timeouts);
    std::string time;
    int size = 0;
    start = Clock::now();
    EXPECT_EQ(engine->GetServerFileInfo("base/flood.bin", time, size), -9);
    const double floodSeconds = SecondsSince(start);
    EXPECT_LT(floodSeconds, 12.0);
    RecordProperty("trickle_seconds", std::to_string(trickleSeconds));
    RecordProperty("flood_seconds", std::to_string(floodSeconds));
}

TEST_F(HardeningTest, ListFileOverTheLimitIsRefusedBeforeItIsFetched) {
    server.SetHandler([](const HttpRequestSeen& request) {
        HttpScriptedResponse response;
        response.headers = {{"Last-Modified", kstest::HttpDate(kServerTime)},
                            {"Content-Length", "209715200"}}; // 200 MB
        response.bAutoContentLength = false;
        if (request.strMethod == "GET")
            response.bCloseBeforeHeaders = true;
        return response;
    });
    Run();
    EXPECT_THAT(view.Rows(), Contains(Row(kStatusError, "다운로드 대상 리스트 파일 다운로드 "
                                                        "실패(에러코드 : -1)")));
    EXPECT_EQ(view.MessageBoxes().size(), 1u);
    EXPECT_THAT(log.LevelsAndMessages(),
                Contains("ERROR CSyncEngine::DownloadAndMergeListFile> List File Too Large, Size "
                         "= 209715200, Limit = 16777216"));
    for (const HttpRequestSeen& request : server.Requests())
        EXPECT_EQ(request.strMethod, "HEAD");
}

TEST_F(HardeningTest, FullDiskLogsTheSystemsReason) {
#ifdef _WIN32
    GTEST_SKIP() << "a full volume is provoked with a small tmpfs on POSIX";
#else
    const std::string volume = app / "small";
    ASSERT_TRUE(plat::CreateFolder(volume));
    if (::mount("tmpfs", volume.c_str(), "tmpfs", 0, "size=64k") != 0)
        GTEST_SKIP() << "mounting a tmpfs needs root";
    Serve("big.bin", std::string(1000000, 'b'));
    DownFileItem item = Item("big.bin", 1000000);
    item.m_strTargetFile = plat::JoinPath(volume, "big.bin");
    SyncEnginePtr engine = Engine();
    const int r = engine->DownloadOneFileFromServer(item, 1, 1);
    ::umount2(volume.c_str(), MNT_DETACH);
    EXPECT_EQ(r, -3);
    std::string reason;
    ASSERT_TRUE(plat::SystemErrorText(plat::kErrDiskFull, reason));
    EXPECT_THAT(log.LevelsAndMessages(),
                Contains("ERROR CSyncEngine::DownloadOneFileFromServer> Write Error = " + reason));
#endif
}

#ifndef _WIN32
// The console program as scripts see it: its exit status, and a second instance on the same
// program folder, which ends without touching a file.
TEST_F(HardeningTest, ConsoleExitStatusesAndASecondInstance) {
    ASSERT_TRUE(plat::CreateFolder(app / "config"));
    ASSERT_TRUE(kstest::WriteFileBytes(
        app / "config/KestrelSync.ini",
        "[VENTO]\nSVR_IP_ADDR=127.0.0.1\nSVR_PORT_NO=" + std::to_string(server.Port()) +
            "\nDOWNLOAD_BASE_URL=base\nLIST_FILE_NAME=_listfile.txt\n"));
    const std::string program = app / "KestrelSync.exe";
    ASSERT_TRUE(plat::CopyFileOver(KS_CONSOLE_PROGRAM, program));
    const auto run = [&program] {
        kstest::ChildProcess child;
        EXPECT_TRUE(child.Start(program, {"x"}));
        return child.Wait(120000);
    };
    EXPECT_EQ(run(), 1); // no list file on the server
    Serve("_listfile.txt", "# nothing to do\n");
    EXPECT_EQ(run(), 0);
    {
        TempDir empty;
        const kstest::ScopedEnv prefix("WINEPREFIX", empty / "no-prefix");
        EXPECT_EQ(run(), 2); // no Windows folders: no run took place
    }
    std::vector<plat::FoundFile> before;
    ASSERT_TRUE(plat::FindFiles(app / "log/*", before));
    std::atomic<int> step{0};
    std::thread holder([this, &step] {
        plat::CInstanceLock lock;
        EXPECT_TRUE(lock.Acquire(app.Path(), 0));
        step = 1;
        while (step != 2)
            plat::SleepMs(10);
    });
    while (step != 1)
        plat::SleepMs(10);
    const int busy = run();
    step = 2;
    holder.join();
    EXPECT_EQ(busy, 2);
    std::vector<plat::FoundFile> after;
    ASSERT_TRUE(plat::FindFiles(app / "log/*", after));
    EXPECT_EQ(after.size(), before.size());
    EXPECT_EQ(kstest::FileSize(after.at(0).strPath), kstest::FileSize(before.at(0).strPath));
}
#endif

} // namespace
