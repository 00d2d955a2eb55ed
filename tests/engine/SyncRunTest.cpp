// Whole runs on the worker thread against the scripted test server, seen through the
// recording view: first install, a run with nothing to do, list-file failures, failed items
// with both answers, stop requests and a transport error that ends the loop.
#include "platform/FileSystem.h"
#include "platform/Text.h"
#include "support/RunFixture.h"
#include "transfer/HttpDate.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

using kstest::HttpRequestSeen;
using kstest::HttpScriptedResponse;
using kstest::TempDir;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using Row = std::pair<int, std::string>;

class SyncRunTest : public kstest::RunFixture {
protected:
    SyncRunTest() : RunFixture("lumen/prod") { httpTimeouts.nReceiveMs = 2000; }

    void ServeList(const std::string& text) { Serve("_listfile.txt", plat::Utf8ToAnsi(text)); }
    std::vector<std::string> Targets(const std::string& method) const {
        std::vector<std::string> targets;
        for (const HttpRequestSeen& request : server.Requests()) {
            if (request.strMethod == method)
                targets.push_back(request.strTarget);
        }
        return targets;
    }
    static std::vector<std::string> Steps(const kstest::FakeView& view) {
        std::vector<std::string> steps;
        for (const std::string& call : view.Calls()) {
            if (call.compare(0, 5, "step:") == 0 && call.size() > 5)
                steps.push_back(call.substr(5));
        }
        return steps;
    }
};

TEST_F(SyncRunTest, FirstInstallThenNothingToDo) {
    Serve("bin/main.exe", "main program");
    Serve("한글/설명 파일.txt", "korean");
    Serve("lib/a.dll", "library");
    ServeList("#main program\nbin/main.exe\n한글/설명 파일.txt,doc\\설명 파일.txt\n"
              "lib/a.dll,lib/a.dll,APP,FILE\n");
    kstest::FakeView first;
    Run(first);
    EXPECT_THAT(first.Outcomes(), ElementsAre(kSyncDoneComplete));
    EXPECT_TRUE(first.IsHidden());
    EXPECT_EQ(kstest::ReadFileBytes(Local("bin/main.exe")), "main program");
    EXPECT_EQ(kstest::ReadFileBytes(Local("doc/설명 파일.txt")), "korean");
    EXPECT_EQ(kstest::ReadFileBytes(Local("lib/a.dll")), "library");
    // The file has the server's time in the local-time sense the program reads it back in.
    std::int64_t tExpected = 0;
    ASSERT_TRUE(ModifyTimeToEpoch(
        FormatModifyTime(CSyncEngine::ParseHttpDate(kstest::HttpDate(kServerTime))), tExpected));
    plat::FileStatus status;
    ASSERT_TRUE(plat::GetFileStatus(Local("lib/a.dll"), status));
    EXPECT_EQ(status.tModify, tExpected);
    const std::vector<Row> rows = first.Rows();
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_EQ(rows[0], Row(kStatusNormal, "프로그램 버전 관리 시작, 버전 = 14,10,6,1"));
    EXPECT_THAT(rows[1].second, HasSubstr("윈도우 디렉토리 경로 : "));
    EXPECT_THAT(rows[2].second, HasSubstr("시스템 디렉토리 경로 : "));
    EXPECT_THAT(rows[3].second, HasSubstr("로컬 시스템 IP 주소 : "));
    EXPECT_EQ(rows[4], Row(kStatusNormal, "프로그램 다운로드 완료"));
    EXPECT_EQ(m_nLastDownloads, 3);
    EXPECT_EQ(server.ConnectionCount(), 1);

    const int before = server.RequestCount();
    const std::size_t getsBefore = Targets("GET").size();
    kstest::FakeView second;
    Run(second);
    EXPECT_THAT(second.Outcomes(), ElementsAre(kSyncDoneComplete));
    EXPECT_EQ(m_nLastDownloads, 0);
    // The list's HEAD and GET, then one HEAD per item and no other GET.
    EXPECT_EQ(server.RequestCount() - before, 5);
    EXPECT_EQ(Targets("GET").size() - getsBefore, 1u);
}

TEST_F(SyncRunTest, ListWithTimeAndSizeNeedsOnlyTheListRequests) {
    Serve("a.bin", "12345");
    const std::string time = FormatModifyTime(kServerTime);
    ServeList("a.bin,a.bin,APP,FILE," + time + ",5\n");
    kstest::FakeView first;
    Run(first);
    const int before = server.RequestCount();
    kstest::FakeView second;
    Run(second);
    EXPECT_THAT(second.Outcomes(), ElementsAre(kSyncDoneComplete));
    EXPECT_EQ(server.RequestCount() - before, 2);
}

TEST_F(SyncRunTest, MissingListFileEndsWithItsMessage) {
    kstest::FakeView view;
    Run(view);
    EXPECT_THAT(view.Outcomes(), ElementsAre(kSyncDoneNoList));
    EXPECT_FALSE(view.IsHidden());
    EXPECT_THAT(view.Rows(), Contains(Row(kStatusError, "다운로드 대상 리스트 파일 정보 추출 "
                                                        "실패(에러코드 : -5)")));
    const std::vector<kstest::MessageBoxSeen> boxes = view.MessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].strCaption, "오류");
    EXPECT_EQ(boxes[0].nType, kMbOk | kMbIconError);
    EXPECT_EQ(boxes[0].strText,
              "리스트 파일 정보를 가져오는 도중에 오류가 발생했습니다.\n더이상 진행하지 못하고 "
              "종료합니다.\n긴급 상황인 경우, 아래의 메뉴를 선택하여 프로그램을 "
              "기동하십시요.\n메뉴 경로 : 프로그램->Arbor Lumen->" +
                  g_szAppDisplayName + " - 다운로드 장애시");
    EXPECT_THAT(log.Messages(),
                Contains("SyncThreadMain> Exit Thread Main Function By Failure..."));
}

TEST_F(SyncRunTest, ListFileThatCannotBeDownloaded) {
    ServeList("a.bin\n");
    server.SetHandler([this](const HttpRequestSeen& request) {
        HttpScriptedResponse response = server.FolderResponse(request);
        if (request.strMethod == "GET") {
            response.nStatus = 500;
            response.strReason = "Server Error";
        }
        return response;
    });
    kstest::FakeView view;
    Run(view);
    EXPECT_THAT(view.Outcomes(), ElementsAre(kSyncDoneNoList));
    EXPECT_THAT(view.Rows(), Contains(Row(kStatusError, "다운로드 대상 리스트 파일 다운로드 "
                                                        "실패(에러코드 : -1)")));
    ASSERT_EQ(view.MessageBoxes().size(), 1u);
    EXPECT_EQ(view.MessageBoxes()[0].strText,
              "리스트 파일을 가져오는 도중에 오류가 발생했습니다.\r\n잠시후에 재시도 하여 "
              "주십시요.");
    EXPECT_THAT(log.Messages(),
                Contains("CobaltSyncThreadMain> Exit Thread Main Function By Failure."));
}

TEST_F(SyncRunTest, FailedItemAsksWhetherToGoOn) {
    Serve("ok.bin", "ok");
    ServeList("ok.bin\nmissing.bin\n");
    for (const int answer : {kIdYes, kIdNo}) {
        kstest::FakeView view;
        view.SetMessageBoxAnswer(answer);
        Run(view);
        EXPECT_THAT(view.Rows(), Contains(Row(kStatusError, "missing.bin 파일 버전 정보 추출 "
                                                            "실패(에러코드 : -5)")));
        EXPECT_THAT(view.Rows(), Contains(Row(kStatusError, "일부 프로그램 파일 다운로드 실패")));
        ASSERT_EQ(view.MessageBoxes().size(), 1u);
        EXPECT_EQ(view.MessageBoxes()[0].strCaption, "오류 확인");
        EXPECT_EQ(view.MessageBoxes()[0].nType, kMbYesNo | kMbIconQuestion | kMbDefButton2);
        EXPECT_THAT(view.Outcomes(),
                    ElementsAre(answer == kIdYes ? kSyncDoneComplete : kSyncDoneDeclined));
        EXPECT_EQ(view.IsHidden(), answer == kIdYes);
    }
}

TEST_F(SyncRunTest, ProgressTextsAndDisplayNames) {
    std::string list;
    for (int i = 1; i <= 8; ++i) {
        Serve("lib/sub/f" + std::to_string(i) + ".dll", std::string(1234567 * (i == 3), 'x'));
        list += "lib/sub/f" + std::to_string(i) + ".dll\n";
    }
    list += "lib\\sub\\back.dll\n"; // "\" does not separate the display name
    Serve("lib/sub/back.dll", "b");
    ServeList(list);
    kstest::FakeView view;
    Run(view);
    const std::vector<std::string> calls = view.Calls();
    EXPECT_THAT(calls, Contains("totalrange:0-9"));
    EXPECT_THAT(calls, Contains("total:3 / 9  (33.3%)"));
    EXPECT_THAT(calls, Contains("total:9 / 9  (100.0%)"));
    EXPECT_THAT(calls, Contains("file:f3.dll (크기 : 1,234,567)"));
    EXPECT_THAT(calls, Contains("file:lib\\sub\\back.dll (크기 : 1)"));
    EXPECT_THAT(Steps(view),
                ElementsAre("서버로부터 리스트 파일 다운로드 중...", "리스트 파일 내용 정리중...",
                            "서버로부터 파일 다운로드 중...", "실행 파일 처리중...",
                            "레지스트리 파일 시스템 등록중...", "프로그램 파일 시스템 등록중...",
                            "삭제 파일 처리중...", "글꼴 등록중..."));
}

TEST_F(SyncRunTest, EmptyListIsASuccess) {
    ServeList("# nothing yet\n");
    kstest::FakeView view;
    Run(view);
    EXPECT_THAT(view.Outcomes(), ElementsAre(kSyncDoneComplete));
    EXPECT_THAT(view.Calls(), Contains("totalrange:0-0"));
    EXPECT_THAT(view.Calls(), Not(Contains(HasSubstr("total:"))));
    EXPECT_THAT(log.Messages(),
                Contains("CSyncEngine::DownloadFilesInListFromServer> Total File Count = 0"));
}

TEST_F(SyncRunTest, StopBetweenItemsStillRunsThePostInstallSteps) {
    // a and b are current (the list gives their time and size), c is new.
    const std::string time = FormatModifyTime(kServerTime);
    std::int64_t tLocal = 0;
    ASSERT_TRUE(ModifyTimeToEpoch(time, tLocal));
    std::string list;
    for (const char* name : {"a.bin", "b.bin", "c.bin"}) {
        Serve(name, "12345");
        list += std::string(name) + "," + name + ",APP,FILE," + time + ",5\n";
    }
    for (const char* name : {"a.bin", "b.bin"}) {
        ASSERT_TRUE(kstest::WriteFileBytes(Local(name), "12345"));
        ASSERT_TRUE(plat::SetFileModifyTime(Local(name), tLocal));
    }
    ServeList(list + "old.bin,old.bin,APP,DEL\n");
    ASSERT_TRUE(kstest::WriteFileBytes(Local("old.bin"), "old"));
    kstest::FakeView view;
    CSyncEngine* running = nullptr;
    view.SetCallHook([&running](const std::string& call) {
        if (call == "totalpos:2" && running != nullptr)
            RequestStop(*running);
    });
    Run(view, [&running](CSyncEngine& engine) { running = &engine; });
    EXPECT_THAT(view.Outcomes(), ElementsAre(kSyncDoneComplete));
    EXPECT_TRUE(kstest::Exists(Local("b.bin")));
    EXPECT_FALSE(kstest::Exists(Local("c.bin")));
    EXPECT_FALSE(kstest::Exists(Local("old.bin"))); // deletions run after a stop
    EXPECT_THAT(view.Rows(), Contains(Row(kStatusNormal, "프로그램 다운로드 완료")));
    EXPECT_THAT(log.Messages(),
                Contains("CSyncEngine::DownloadFilesInListFromServer> m_nRequestStopFlag = 1"));
}

TEST_F(SyncRunTest, StopDuringATransferFailsThatItem) {
    Serve("big.bin", std::string(200000, 'z'));
    ServeList("big.bin\n");
    kstest::FakeView view;
    CSyncEngine* running = nullptr;
    view.SetCallHook([&running](const std::string& call) {
        if (call == "file:big.bin (크기 : 200,000)" && running != nullptr)
            RequestStop(*running);
    });
    Run(view, [&running](CSyncEngine& engine) { running = &engine; });
    EXPECT_THAT(view.Rows(), Contains(Row(kStatusError, "big.bin 파일 다운로드 실패(-7) : 사용자의 "
                                                        "중지 요청")));
    EXPECT_FALSE(kstest::Exists(Local("big.bin")));
    EXPECT_THAT(view.Outcomes(), ElementsAre(kSyncDoneDeclined));
}

TEST_F(SyncRunTest, FailedDownloadIsDeletedAndReported) {
    Serve("short.bin", "12");
    ServeList("short.bin,short.bin,APP,FILE," + FormatModifyTime(kServerTime) + ",10\n");
    ASSERT_TRUE(kstest::WriteFileBytes(Local("short.bin"), "old version"));
    kstest::FakeView view;
    view.SetMessageBoxAnswer(kIdYes);
    Run(view);
    EXPECT_THAT(view.Rows(), Contains(Row(kStatusError, "short.bin 파일 다운로드 실패(-4) : "
                                                        "파일내용의 일부만 다운로드됨")));
    EXPECT_FALSE(kstest::Exists(Local("short.bin")));
    EXPECT_THAT(log.LevelsAndMessages(),
                Contains("WARN  CSyncEngine::DownloadFilesInListFromServer> Delete Local Flle = " +
                         Local("short.bin")));
    EXPECT_THAT(view.Outcomes(), ElementsAre(kSyncDoneComplete));
}

TEST_F(SyncRunTest, DeletionEntryWithoutServerFileStillDeletes) {
    ServeList("gone.dll,gone.dll,APP,DEL\n");
    ASSERT_TRUE(kstest::WriteFileBytes(Local("gone.dll"), "old"));
    kstest::FakeView view;
    Run(view);
    EXPECT_THAT(view.Rows(), Contains(Row(kStatusError, "gone.dll 파일 버전 정보 추출 "
                                                        "실패(에러코드 : -5)")));
    EXPECT_FALSE(kstest::Exists(Local("gone.dll")));
    EXPECT_THAT(view.Outcomes(), ElementsAre(kSyncDoneDeclined));
}

TEST_F(SyncRunTest, TransportErrorOutsideTheFileStepsEndsTheLoop) {
    Serve("a.bin", "a");
    Serve("b.bin", "b");
    ServeList("a.bin\nb.bin\n");
    kstest::FakeView view;
    view.SetCallHook([](const std::string& call) {
        if (call == "total:1 / 2  (50.0%)")
            throw plat::CHttpError("connection to the window lost");
    });
    Run(view);
    EXPECT_THAT(view.Rows(),
                Contains(Row(kStatusError, "프로그램 장애 : connection to the window lost")));
    EXPECT_FALSE(kstest::Exists(Local("a.bin")));
    EXPECT_FALSE(kstest::Exists(Local("b.bin")));
    EXPECT_THAT(view.Outcomes(), ElementsAre(kSyncDoneDeclined));
    EXPECT_THAT(log.Messages(), Contains("CobaltSyncThreadMain> nAllSequenceSuccessFlag = 0"));
}

TEST_F(SyncRunTest, ServerThatVanishesMidRun) {
    Serve("a.bin", "a");
    ServeList("a.bin\nb.bin\n");
    server.SetHandler([this](const HttpRequestSeen& request) {
        HttpScriptedResponse response = server.FolderResponse(request);
        if (request.strTarget.find("b.bin") != std::string::npos)
            response.bCloseBeforeHeaders = true;
        return response;
    });
    kstest::FakeView view;
    view.SetMessageBoxAnswer(kIdNo);
    Run(view);
    EXPECT_TRUE(kstest::Exists(Local("a.bin")));
    EXPECT_THAT(view.Rows(), Contains(Row(kStatusError, "b.bin 파일 버전 정보 추출 "
                                                        "실패(에러코드 : -9)")));
    EXPECT_THAT(view.Outcomes(), ElementsAre(kSyncDoneDeclined));
}

TEST_F(SyncRunTest, ThousandsOfItemsDuplicatesAndABlockedFolder) {
    const std::string time = FormatModifyTime(kServerTime);
    std::string list;
    for (int i = 0; i < 1500; ++i) {
        const std::string name = "many/f" + std::to_string(i) + ".bin";
        Serve(name, std::to_string(i));
        list += name + "," + name + ",APP,FILE," + time + "," +
                std::to_string(std::to_string(i).size()) + "\n";
    }
    const std::string seventh = "many/f7.bin,many/f7.bin,APP,FILE," + time + ",1\n";
    list += seventh + seventh; // the same line twice more: current by then
    Serve("blocked/x.bin", "x");
    list += "blocked/x.bin\n";
    ServeList(list);
    ASSERT_TRUE(kstest::WriteFileBytes(Local("blocked"), "a file where the folder should be"));
    kstest::FakeView view;
    view.SetMessageBoxAnswer(kIdYes);
    Run(view);
    EXPECT_EQ(m_nLastItems, 1503);
    EXPECT_EQ(m_nLastDownloads, 1500);
    EXPECT_EQ(kstest::ReadFileBytes(Local("many/f1499.bin")), "1499");
    EXPECT_THAT(view.Rows(), Contains(Row(kStatusError, "blocked/x.bin 파일 다운로드 실패(-3) : "
                                                        "로컬 파일 열기 실패(파일 읽기 모드 속성 "
                                                        "확인)")));
    EXPECT_EQ(kstest::ReadFileBytes(Local("blocked")), "a file where the folder should be");
    EXPECT_THAT(view.Outcomes(), ElementsAre(kSyncDoneComplete));
    const std::vector<HttpRequestSeen> requests = server.Requests();
    std::string where; // the requests around each change of connection
    for (std::size_t i = 1; i < requests.size(); ++i) {
        if (requests[i].nConnection != requests[i - 1].nConnection)
            where += requests[i - 1].strMethod + " " + requests[i - 1].strTarget + " -> " +
                     requests[i].strMethod + " " + requests[i].strTarget + " (request " +
                     std::to_string(i + 1) + ")\n";
    }
    for (const std::string& end : server.ConnectionEnds())
        where += end + "\n";
    EXPECT_EQ(server.ConnectionCount(), 1) << where;
}

TEST(SyncRunSystem, MissingWindowsFolderEndsTheRunWithoutAnOutcome) {
#ifdef _WIN32
    GTEST_SKIP() << "a Windows machine always names its Windows folder";
#else
    kstest::LogCapture log;
    TempDir empty;
    kstest::ScopedEnv prefix("WINEPREFIX", empty / "no-prefix");
    CSyncConfig config("none.ini");
    config.m_strServerIp = "127.0.0.1";
    config.m_nServerPort = 9;
    kstest::FakeView view;
    SyncEnginePtr engine = kstest::RunFixture::NewEngine(view);
    ASSERT_EQ(engine->InitSyncEngine(&config), 0);
    EXPECT_EQ(SyncThreadMain(engine.get()), -1);
    EXPECT_THAT(view.Rows(), ElementsAre(Row(kStatusError, "윈도우 디렉토리 정보 획득 실패")));
    EXPECT_THAT(view.Outcomes(), IsEmpty());
    EXPECT_FALSE(kstest::RunFixture::IsRunning(*engine));
    EXPECT_THAT(log.Messages(),
                Contains("CSyncEngine::GetAndDisplaySystemInfo> GetWindowsDirectory() Fail, "
                         "ErrCode = 3"));
#endif
}

} // namespace
