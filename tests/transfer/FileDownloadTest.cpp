// Single-file downloads against the scripted test server: every result code, what happens
// to the local file, the progress shown and the log lines.
#include "engine/SyncEngine.h"
#include "engine/TrustedRun.h"
#include "platform/FileSystem.h"
#include "platform/Path.h"
#include "support/FakeView.h"
#include "support/LogCapture.h"
#include "support/TempDir.h"
#include "support/TestHttpServer.h"
#include "transfer/HttpDate.h"
#include "transfer/Transfer.h"
#include "trust/SignedList.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cctype>

namespace {

using kstest::HttpRequestSeen;
using kstest::HttpScriptedResponse;
using kstest::TempDir;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

constexpr std::int64_t kServerTime = 1765000000;

std::string Pattern(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>('a' + (i * 7 + i / 4096) % 26);
    return bytes;
}

class FileDownloadTest : public ::testing::Test {
protected:
    kstest::LogCapture log;
    TempDir served;
    TempDir local;
    kstest::TestHttpServer server;
    kstest::FakeView view;
    CSyncConfig config{"none.ini"};
    CSyncEngine engine;

    FileDownloadTest() {
        server.ServeFolder(served.Path());
        config.m_strServerIp = "127.0.0.1";
        config.m_nServerPort = server.Port();
        config.m_strDownloadBaseUrl = "lumen/prod";
        engine.m_pDlg = &view;
        engine.m_httpTimeouts.nReceiveMs = 1000;
        EXPECT_EQ(engine.InitSyncEngine(&config), 0);
    }
    // A file on the server below the download base.
    void Serve(const std::string& relative, const std::string& bytes) {
        std::string path = plat::JoinPath(served.Path(), "lumen");
        plat::CreateFolder(path);
        path = plat::JoinPath(path, "prod");
        plat::CreateFolder(path);
        std::size_t start = 0;
        for (std::size_t sep; (sep = relative.find('/', start)) != std::string::npos;
             start = sep + 1) {
            path = plat::JoinPath(path, relative.substr(start, sep - start));
            plat::CreateFolder(path);
        }
        path = plat::JoinPath(path, relative.substr(start));
        ASSERT_TRUE(kstest::WriteFileBytes(path, bytes));
    }
    DownFileItem Item(const std::string& serverFile, const std::string& target, std::size_t size) {
        DownFileItem item;
        item.m_strServerFile = serverFile;
        item.m_strTargetFile = target;
        item.m_strFileSize = std::to_string(size);
        item.m_strModifyTime = FormatModifyTime(kServerTime);
        return item;
    }
    std::int64_t LocalTime(const std::string& path) const {
        plat::FileStatus status;
        return plat::GetFileStatus(path, status) ? status.tModify : -1;
    }
    void Answer(HttpScriptedResponse response) {
        server.SetHandler([response](const HttpRequestSeen&) { return response; });
    }
};

TEST_F(FileDownloadTest, CompleteDownloadGetsTheServerTime) {
    const std::string body = Pattern(10000);
    Serve("bin/main.exe", body);
    const std::string target = local / "main.exe";
    EXPECT_EQ(engine.DownloadOneFileFromServer(Item("bin/main.exe", target, body.size()), 1, 1), 0);
    EXPECT_EQ(kstest::ReadFileBytes(target), body);
    EXPECT_EQ(LocalTime(target), kServerTime);
    const std::vector<int> positions = view.FilePositions();
    ASSERT_GE(positions.size(), 2u);
    EXPECT_EQ(positions.front(), 0);
    EXPECT_EQ(positions.back(), 100);
    EXPECT_THAT(view.Calls(), Contains("filerange:0-100"));
    EXPECT_THAT(log.Messages(),
                ElementsAre("CCobaltSyncEngine::DownloadOneFileFromServer> File URL = "
                            "lumen/prod/bin/main.exe",
                            "CSyncEngine::SetDownFileModifyDate> Set File(" + target +
                                ") Modify Time = " + FormatModifyTime(kServerTime)));
    EXPECT_EQ(server.Requests().at(0).strMethod, "GET");
}

TEST_F(FileDownloadTest, KoreanAndBlankNamesAndAMissingFolderChain) {
    Serve("한글 폴더/파일 1.txt", "hello");
    const std::string target =
        plat::JoinPath(plat::JoinPath(plat::JoinPath(local.Path(), "새 폴더"), "b"), "파일 1.txt");
    EXPECT_EQ(engine.DownloadOneFileFromServer(Item("한글 폴더/파일 1.txt", target, 5), 1, 1), 0);
    EXPECT_EQ(kstest::ReadFileBytes(target), "hello");
}

TEST_F(FileDownloadTest, ReadOnlyLocalFileIsReplaced) {
    Serve("a.dll", "new!");
    const std::string target = local / "a.dll";
    ASSERT_TRUE(kstest::WriteFileBytes(target, "old contents"));
    ASSERT_TRUE(plat::SetReadOnly(target, true));
    EXPECT_EQ(engine.DownloadOneFileFromServer(Item("a.dll", target, 4), 1, 1), 0);
    EXPECT_EQ(kstest::ReadFileBytes(target), "new!");
    EXPECT_EQ(LocalTime(target), kServerTime);
    EXPECT_THAT(log.Matching("Read Only"),
                ElementsAre("DEBUG CSyncEngine::ClearReadOnlyPropertyOfLocalFile> Try To Remove "
                            "Read Only Property, File = " +
                            target));
}

TEST_F(FileDownloadTest, NotFoundLeavesTheLocalFile) {
    const std::string target = local / "keep.dll";
    ASSERT_TRUE(kstest::WriteFileBytes(target, "keep"));
    EXPECT_EQ(engine.DownloadOneFileFromServer(Item("gone/keep.dll", target, 4), 1, 1), -2);
    EXPECT_EQ(kstest::ReadFileBytes(target), "keep");
    EXPECT_THAT(log.Matching("QueryInfoStatusCode"),
                ElementsAre("ERROR CCobaltSyncThread::DownloadOneFileFromServer> "
                            "QueryInfoStatusCode(lumen/prod/gone/keep.dll) Return = 404"));
}

TEST_F(FileDownloadTest, LocalFileThatCannotBeOpened) {
    Serve("a.dll", "data");
    const std::string target = local / "a-folder";
    ASSERT_TRUE(plat::CreateFolder(target));
    EXPECT_EQ(engine.DownloadOneFileFromServer(Item("a.dll", target, 4), 1, 1), -3);
    const std::vector<std::string> lines = log.Matching("");
    EXPECT_THAT(lines, Contains("ERROR CSyncEngine::DownloadOneFileFromServer> Local File Open(" +
                                target + ") Fail"));
    EXPECT_THAT(lines, Contains(HasSubstr("INFO  CMyLog::LogLastErrorText> ")));
}

TEST_F(FileDownloadTest, ShorterAndLongerBodiesThanTheListSays) {
    Serve("short.bin", "12345");
    const std::string shortTarget = local / "short.bin";
    EXPECT_EQ(engine.DownloadOneFileFromServer(Item("short.bin", shortTarget, 9), 1, 1), -4);
    EXPECT_EQ(kstest::ReadFileBytes(shortTarget), "12345"); // the partial file stays
    EXPECT_THAT(log.Matching("Server File Size"),
                ElementsAre("ERROR CSyncEngine::DownloadOneFileFromServer> Server File Size = 9, "
                            "Write File Size = 5"));

    const std::string body = Pattern(20000);
    Serve("long.bin", body);
    const std::string longTarget = local / "long.bin";
    EXPECT_EQ(engine.DownloadOneFileFromServer(Item("long.bin", longTarget, 5000), 1, 1), -4);
    // Reading stops with the block that reaches the expected size; all of it is written.
    const std::string written = kstest::ReadFileBytes(longTarget);
    EXPECT_GE(written.size(), 5000u);
    EXPECT_LT(written.size(), 5000u + 4096u);
    EXPECT_EQ(written, body.substr(0, written.size()));
}

TEST_F(FileDownloadTest, ConnectionDroppedMidBody) {
    HttpScriptedResponse response;
    response.strBody = Pattern(50000);
    response.nDropAfter = 20000;
    Answer(response);
    const std::string target = local / "drop.bin";
    EXPECT_EQ(engine.DownloadOneFileFromServer(Item("drop.bin", target, 50000), 1, 1), -6);
    EXPECT_THAT(log.Matching("ErrMsg"),
                ElementsAre(HasSubstr("ERROR CSyncEngine::DownloadOneFileFromServer> ErrMsg = ")));
    EXPECT_TRUE(plat::RemoveFile(target)); // closed: it can be deleted
}

TEST_F(FileDownloadTest, StalledTransferEndsWithTheReceiveTimeout) {
    HttpScriptedResponse response;
    response.strBody = Pattern(50000);
    response.nStallAfter = 10000;
    Answer(response);
    EXPECT_EQ(engine.DownloadOneFileFromServer(Item("stall.bin", local / "stall.bin", 50000), 1, 1),
              -6);
    server.ReleaseStalls();
}

TEST_F(FileDownloadTest, StopRequestEndsAfterTheCurrentBlock) {
    const std::string body = Pattern(100000);
    Serve("big.bin", body);
    // Stopped once the answer has begun: a stop during a wait for the answer's head ends the
    // request before any file is opened, and on a busy machine that wait may be the longer one.
    view.SetCallHook([this](const std::string& call) {
        if (call == "filepos:0")
            engine.m_nRequestStopFlag = 1;
    });
    const std::string target = local / "big.bin";
    EXPECT_EQ(engine.DownloadOneFileFromServer(Item("big.bin", target, body.size()), 1, 1), -7);
    // At most the block being read when the flag was seen (none when it ended a wait).
    ASSERT_TRUE(kstest::Exists(target));
    const std::string written = kstest::ReadFileBytes(target);
    EXPECT_LE(written.size(), 4096u);
    EXPECT_EQ(written, body.substr(0, written.size()));
    EXPECT_THAT(
        log.Matching("m_nRequestStopFlag"),
        ElementsAre("DEBUG CSyncEngine::DownloadOneFileFromServer> m_nRequestStopFlag = 1"));
    EXPECT_TRUE(plat::RemoveFile(target));
}

TEST_F(FileDownloadTest, EmptyFileIsCompleteWithoutReading) {
    Serve("empty.txt", "");
    const std::string target = local / "empty.txt";
    ASSERT_TRUE(kstest::WriteFileBytes(target, "old"));
    EXPECT_EQ(engine.DownloadOneFileFromServer(Item("empty.txt", target, 0), 1, 1), 0);
    EXPECT_EQ(kstest::FileSize(target), 0);
    EXPECT_EQ(LocalTime(target), kServerTime);
    EXPECT_THAT(view.FilePositions(), ElementsAre(0));
}

TEST_F(FileDownloadTest, LargeFileProgressRisesFrom0To100) {
    const std::string body = Pattern(30000000);
    Serve("large.bin", body);
    const std::string target = local / "large.bin";
    // 30 MB on a busy machine may pause longer than the one second the stall cases wait.
    engine.m_httpTimeouts.nReceiveMs = 30000;
    ASSERT_EQ(engine.InitSyncEngine(&config), 0);
    EXPECT_EQ(engine.DownloadOneFileFromServer(Item("large.bin", target, body.size()), 1, 1), 0);
    EXPECT_EQ(kstest::FileSize(target), 30000000);
    EXPECT_TRUE(kstest::ReadFileBytes(target) == body);
    const std::vector<int> positions = view.FilePositions();
    ASSERT_GE(positions.size(), 2u);
    EXPECT_EQ(positions.front(), 0);
    EXPECT_EQ(positions.back(), 100);
    for (std::size_t i = 1; i < positions.size(); ++i) {
        EXPECT_LE(positions[i - 1], positions[i]);
        EXPECT_LE(positions[i], 100);
    }
}

TEST_F(FileDownloadTest, InvalidServerTimeEndsLikeATransportError) {
    Serve("a.dll", "data");
    DownFileItem item = Item("a.dll", local / "a.dll", 4);
    item.m_strModifyTime = "00000000000000";
    EXPECT_EQ(engine.DownloadOneFileFromServer(item, 1, 1), -6);
    EXPECT_EQ(kstest::ReadFileBytes(local / "a.dll"), "data");
}

TEST_F(FileDownloadTest, HeadAndGetShareOneConnection) {
    Serve("x/1.bin", "one");
    Serve("x/2.bin", "two");
    for (const char* name : {"x/1.bin", "x/2.bin"}) {
        DownFileItem item = Item(name, local / (std::string(name).substr(2)), 3);
        ASSERT_EQ(engine.GetItemServerFileInfo(item), 0);
        EXPECT_EQ(engine.DownloadOneFileFromServer(item, 1, 2), 0);
    }
    EXPECT_EQ(server.RequestCount(), 4);
    EXPECT_EQ(server.ConnectionCount(), 1);
}

TEST(CreateTargetFolder, WholeChainAndExistingFolders) {
    TempDir dir;
    CSyncEngine engine;
    const std::string deep =
        plat::JoinPath(plat::JoinPath(plat::JoinPath(dir.Path(), "a"), "b c"), "d");
    engine.CreateTargetFolder(plat::JoinPath(deep, "file.txt"));
    plat::FileStatus status;
    ASSERT_TRUE(plat::GetFileStatus(deep, status));
    EXPECT_TRUE(status.bFolder);
    engine.CreateTargetFolder(plat::JoinPath(deep, "other.txt")); // exists: nothing to do
    engine.CreateTargetFolder("no-separator.txt");
    EXPECT_FALSE(kstest::Exists("no-separator.txt"));
}

} // namespace

namespace {

// Trusted mode: the content must match the item's SHA-256; anything else leaves the local file
// as it was and no temporary file behind.
TEST_F(FileDownloadTest, TrustedModeChecksTheHashColumn) {
    const std::string body = Pattern(50000);
    Serve("signed.bin", body);
    plat::CSha256 sha;
    sha.Update(body.data(), body.size());
    plat::Sha256Digest digest{};
    ASSERT_TRUE(sha.Finish(digest));
    const std::string right = Sha256Hex(digest);
    std::string wrong = right;
    wrong[10] = wrong[10] == '0' ? '1' : '0';
    const struct {
        const char* name;
        std::string hash;
        std::size_t size;
        int nResult;
    } cases[] = {
        {"wrong hash", wrong, body.size(), -8},
        {"63 digits", right.substr(1), body.size(), -8},
        {"no hash", "", body.size(), -8},
        {"one byte short of the right file", right, body.size() + 1, -4},
        {"right hash, upper case", "", body.size(), 0},
    };
    engine.m_pMode = std::make_unique<CTrustedRun>(std::vector<plat::CP256PublicKey>());
    const std::string target = local / "signed.bin";
    for (const auto& c : cases) {
        ASSERT_TRUE(kstest::WriteFileBytes(target, "the installed version"));
        DownFileItem item = Item("signed.bin", target, c.size);
        item.m_strSha256 = c.hash;
        if (c.nResult == 0) {
            for (const char ch : right)
                item.m_strSha256 += static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        }
        EXPECT_EQ(engine.DownloadOneFileFromServer(item, 1, 1), c.nResult) << c.name;
        EXPECT_EQ(kstest::ReadFileBytes(target) == body, c.nResult == 0) << c.name;
        if (c.nResult != 0) {
            EXPECT_EQ(kstest::ReadFileBytes(target), "the installed version") << c.name;
        }
        EXPECT_FALSE(kstest::Exists(DownloadTempPath(target))) << c.name;
    }
    EXPECT_THAT(log.Matching("SHA-256 Mismatch"),
                ElementsAre("ERROR CSyncEngine::DownloadOneFileFromServer> File(signed.bin) "
                            "SHA-256 Mismatch, Expected = " +
                            wrong + ", Computed = " + right));
    EXPECT_THAT(log.Matching("Has No Valid SHA-256"), ::testing::SizeIs(2));
}

} // namespace
