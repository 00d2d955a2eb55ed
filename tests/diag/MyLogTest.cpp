#include "diag/MyLog.h"

#include "platform/FileSystem.h"
#include "platform/Path.h"
#include "platform/Text.h"
#include "support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <regex>
#include <sstream>
#include <thread>
#include <vector>

namespace {

using kstest::TempDir;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

#ifdef _WIN32
const std::string kEol = "\r\n"; // text mode
#else
const std::string kEol = "\n";
#endif

// Lines of a log file as the program wrote them (converted back from the ANSI code page),
// split at the platform's line end.
std::vector<std::string> ReadLines(const std::string& path) {
    const std::string text = plat::AnsiToUtf8(kstest::ReadFileBytes(path));
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find(kEol, start)) != std::string::npos;
         start = end + kEol.size())
        lines.push_back(text.substr(start, end - start));
    if (start < text.size())
        lines.push_back(text.substr(start) + "<no line end>");
    return lines;
}

class MyLogTest : public ::testing::Test {
protected:
    TempDir dir;
    std::shared_ptr<plat::LocalTime> now =
        std::make_shared<plat::LocalTime>(plat::LocalTime{2026, 12, 7, 9, 5, 3, 42});

    LogClock Clock() const {
        auto shared = now;
        return [shared] { return *shared; };
    }
    std::unique_ptr<CMyLog> Make(int nMaxSizeMB = 10, const std::string& prefix = "P") {
        return std::make_unique<CMyLog>(nMaxSizeMB, dir.Path(), prefix, Clock());
    }
    std::string LogPath(const std::string& date = "20261207") const {
        return dir / ("P_" + date + ".log");
    }
    // Writes lines "<tag> 1" .. "<tag> n" at INFO.
    static void WriteMany(CMyLog* log, int n, const char* tag, int nLevel = 2) {
        for (int i = 1; i <= n; ++i)
            WriteLog(log, nLevel, "%s %d", tag, i);
    }
};

TEST_F(MyLogTest, LineFormatAndDailyFileName) {
    auto log = Make();
    ASSERT_TRUE(log->IsOpen());
    EXPECT_EQ(log->GetLogPath(), LogPath());
    WriteLog(log.get(), 2, "Start");
    WriteLog(log.get(), 1, "CVentoApp::ExitInstance> %s %d%%", "Delete", 7);
    EXPECT_EQ(kstest::ReadFileBytes(LogPath()),
              "2026/12/07=09:05:03.042 : INFO  Start" + kEol +
                  "2026/12/07=09:05:03.042 : DEBUG CVentoApp::ExitInstance> Delete 7%" + kEol);
}

TEST_F(MyLogTest, LabelsOfEveryLevel) {
    auto log = Make();
    for (int level : {1, 2, 3, 4, 5, 100, 7, 0})
        WriteLog(log.get(), level, "L%d", level);
    std::vector<std::string> labels;
    for (const std::string& line : ReadLines(LogPath()))
        labels.push_back(line.substr(26));
    // Level 0 is below the minimum level 1 and writes nothing.
    EXPECT_THAT(labels, ElementsAre("DEBUG L1", "INFO  L2", "WARN  L3", "ERROR L4", "FATAL L5",
                                    "      L100", "      L7"));
}

TEST_F(MyLogTest, ExistingFileOfTheDayIsAppendedTo) {
    ASSERT_TRUE(kstest::WriteFileBytes(LogPath(), "earlier" + kEol));
    WriteLog(Make().get(), 2, "later");
    EXPECT_THAT(ReadLines(LogPath()), ElementsAre("earlier", HasSubstr("INFO  later")));
}

TEST_F(MyLogTest, FilteredMessagesAreNotCounted) {
    auto log = Make(0); // limit 0: every size check rotates
    log->SetLogLevel(3);
    WriteMany(log.get(), 250, "debug", 1);
    WriteMany(log.get(), 250, "info", 2);
    EXPECT_EQ(kstest::FileSize(LogPath()), 0);
    WriteMany(log.get(), 100, "warn", 3);
    EXPECT_FALSE(kstest::Exists(LogPath() + ".bak"));
    WriteLog(log.get(), 3, "warn 101");
    EXPECT_EQ(ReadLines(LogPath() + ".bak").size(), 100u);
    EXPECT_THAT(ReadLines(LogPath()), ElementsAre(HasSubstr("WARN  warn 101")));
}

TEST_F(MyLogTest, SizeIsCheckedOnThe101stAnd202ndWrite) {
    auto log = Make(0);
    WriteMany(log.get(), 100, "a");
    EXPECT_FALSE(kstest::Exists(LogPath() + ".bak"));
    EXPECT_EQ(ReadLines(LogPath()).size(), 100u);

    WriteLog(log.get(), 2, "a 101");
    EXPECT_EQ(ReadLines(LogPath() + ".bak").size(), 100u);
    EXPECT_THAT(ReadLines(LogPath()), ElementsAre(HasSubstr("a 101")));

    WriteMany(log.get(), 100, "b"); // writes 102 .. 201
    EXPECT_EQ(ReadLines(LogPath() + ".bak").size(), 100u);
    EXPECT_EQ(ReadLines(LogPath()).size(), 101u);

    WriteLog(log.get(), 2, "b 202");
    const std::vector<std::string> backup = ReadLines(LogPath() + ".bak");
    ASSERT_EQ(backup.size(), 101u);
    EXPECT_THAT(backup.front(), HasSubstr("a 101"));
    EXPECT_THAT(backup.back(), HasSubstr("b 100"));
    EXPECT_THAT(ReadLines(LogPath()), ElementsAre(HasSubstr("b 202")));
}

TEST_F(MyLogTest, FileOfExactlyTheLimitIsRotated) {
    auto log = Make(1);
    WriteMany(log.get(), 100, "a");
    ASSERT_TRUE(kstest::ResizeFile(LogPath(), 1048576));
    WriteLog(log.get(), 4, "trigger");
    EXPECT_EQ(kstest::FileSize(LogPath() + ".bak"), 1048576);
    EXPECT_THAT(ReadLines(LogPath()), ElementsAre(HasSubstr("ERROR trigger")));
}

TEST_F(MyLogTest, FileOneByteBelowTheLimitIsKept) {
    auto log = Make(1);
    WriteMany(log.get(), 100, "a");
    ASSERT_TRUE(kstest::ResizeFile(LogPath(), 1048575));
    WriteLog(log.get(), 4, "no trigger");
    EXPECT_FALSE(kstest::Exists(LogPath() + ".bak"));
    EXPECT_GT(kstest::FileSize(LogPath()), 1048575);
}

TEST_F(MyLogTest, RotationReplacesAnEarlierBackup) {
    ASSERT_TRUE(kstest::WriteFileBytes(LogPath() + ".bak", "OLD BACKUP" + kEol));
    auto log = Make(0);
    WriteMany(log.get(), 101, "x");
    const std::vector<std::string> backup = ReadLines(LogPath() + ".bak");
    ASSERT_EQ(backup.size(), 100u);
    EXPECT_THAT(backup.front(), HasSubstr("INFO  x 1"));
    EXPECT_THAT(ReadLines(LogPath()), ElementsAre(HasSubstr("INFO  x 101")));
}

TEST_F(MyLogTest, RetentionDeletesWhatTheTextualCutOffSelects) {
    now->nHour = 12;
    for (const char* name :
         {"P_20261127.log", "P_20261127.log.bak", "P_20261126.log.bak", "P_20261128.log",
          "P_20261101.log", "Q_20261101.log", "P_20260101.txt"})
        ASSERT_TRUE(kstest::WriteFileBytes(dir / name, "x"));
    auto log = Make();
    EXPECT_FALSE(kstest::Exists(dir / "P_20261127.log"));
    EXPECT_TRUE(kstest::Exists(dir / "P_20261127.log.bak"));
    EXPECT_FALSE(kstest::Exists(dir / "P_20261126.log.bak"));
    EXPECT_TRUE(kstest::Exists(dir / "P_20261128.log"));
    EXPECT_FALSE(kstest::Exists(dir / "P_20261101.log"));
    EXPECT_TRUE(kstest::Exists(dir / "Q_20261101.log"));
    EXPECT_TRUE(kstest::Exists(dir / "P_20260101.txt"));
    EXPECT_TRUE(log->IsOpen());
}

TEST_F(MyLogTest, RunPastMidnightKeepsTheStartDaysFile) {
    *now = {2026, 12, 7, 23, 59, 59, 900};
    auto log = Make();
    WriteLog(log.get(), 2, "before");
    *now = {2026, 12, 8, 0, 0, 0, 100};
    WriteLog(log.get(), 2, "after");
    EXPECT_THAT(ReadLines(LogPath()), ElementsAre("2026/12/07=23:59:59.900 : INFO  before",
                                                  "2026/12/08=00:00:00.100 : INFO  after"));
    EXPECT_FALSE(kstest::Exists(LogPath("20261208")));
}

TEST_F(MyLogTest, TwoThreadsWriteWholeLinesInTimeOrder) {
    auto log = std::make_unique<CMyLog>(10, dir.Path(), "P");
    const int kLines = 300;
    auto writer = [&log](const char* tag) {
        for (int i = 1; i <= kLines; ++i)
            WriteLog(log.get(), 2, "%s line %d with some text to widen the window", tag, i);
    };
    std::thread a(writer, "A");
    std::thread b(writer, "B");
    a.join();
    b.join();

    const std::regex shape(R"((\d{4}/\d\d/\d\d=\d\d:\d\d:\d\d\.\d{3}) : INFO  ([AB]) line (\d+) )"
                           R"(with some text to widen the window)");
    int next[2] = {1, 1};
    std::string lastStamp;
    const std::vector<std::string> lines = ReadLines(log->GetLogPath());
    ASSERT_EQ(lines.size(), 2u * kLines);
    for (const std::string& line : lines) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, shape)) << line;
        EXPECT_GE(m[1].str(), lastStamp) << line;
        lastStamp = m[1].str();
        EXPECT_EQ(std::stoi(m[3].str()), next[m[2].str() == "B"]++) << line;
    }
}

TEST_F(MyLogTest, LastErrorTextAfterAFailedOpen) {
    auto log = Make();
    g_pMyLog = log.get();
    std::FILE* fp = plat::OpenFile(plat::JoinPath(dir / "missing", "x.txt"), "r");
    ASSERT_EQ(fp, nullptr);
    const int code = plat::LastErrorCode();
    EXPECT_EQ(code, plat::kErrPathNotFound);
    CMyLog::LogLastErrorText();
    g_pMyLog = nullptr;

    std::string text;
    ASSERT_TRUE(plat::SystemErrorText(code, text));
    // The system's text keeps its own line break, so the line is followed by an empty one.
    EXPECT_THAT(
        ReadLines(LogPath()),
        ElementsAre("2026/12/07=09:05:03.042 : INFO  CMyLog::LogLastErrorText> " + text, ""));
}

TEST_F(MyLogTest, LastErrorTextForACodeWithoutText) {
    auto log = Make();
    g_pMyLog = log.get();
    plat::SetLastErrorCode(0x01234567);
    CMyLog::LogLastErrorText();
    g_pMyLog = nullptr;
    const std::vector<std::string> lines = ReadLines(LogPath());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_THAT(lines[0], HasSubstr("INFO  CMyLog::LogLastErrorText> FormatMessage() Fail, "
                                    "ErrCode = "));
    EXPECT_EQ(lines[0].find("ErrCode = 0"), std::string::npos);
}

TEST_F(MyLogTest, FoldersOnThePathAreCreated) {
    const std::string nested = plat::JoinPath(plat::JoinPath(dir / "a", "b"), "log");
    CMyLog log(10, nested, "KestrelSync_1", Clock());
    ASSERT_TRUE(log.IsOpen());
    WriteLog(&log, 2, "x");
    EXPECT_EQ(ReadLines(plat::JoinPath(nested, "KestrelSync_1_20261207.log")).size(), 1u);
}

TEST_F(MyLogTest, UnusableFolderLeavesTheNoFileState) {
    ASSERT_TRUE(kstest::WriteFileBytes(dir / "blocker", "a file where the folder should be"));
    CMyLog log(10, dir / "blocker", "P", Clock());
    EXPECT_FALSE(log.IsOpen());
    WriteLog(&log, 4, "ignored");
    WriteLog(nullptr, 4, "ignored too");
    EXPECT_EQ(kstest::ReadFileBytes(dir / "blocker"), "a file where the folder should be");
}

TEST_F(MyLogTest, OverlongPathLeavesTheNoFileState) {
    const std::string longDir = dir / std::string(250, 'd');
    CMyLog log(10, longDir, "P", Clock());
    EXPECT_FALSE(log.IsOpen());
    WriteLog(&log, 2, "ignored");
    EXPECT_FALSE(kstest::Exists(longDir));
}

TEST_F(MyLogTest, LongMessagesAreCutAtACharacterBoundary) {
    auto log = Make();
    WriteLog(log.get(), 2, "%s", std::string(5000, 'x').c_str());
    std::string korean;
    for (int i = 0; i < 400; ++i)
        korean += "가";
    WriteLog(log.get(), 2, "%s", korean.c_str());
    const std::vector<std::string> lines = ReadLines(LogPath());
    ASSERT_EQ(lines.size(), 2u);
    const std::size_t prefix = std::string("2026/12/07=09:05:03.042 : INFO  ").size();
    EXPECT_EQ(lines[0].substr(prefix), std::string(1024, 'x'));
    EXPECT_EQ(lines[1].substr(prefix), korean.substr(0, 341 * 3));
}

TEST_F(MyLogTest, KoreanMessagesAreWrittenInTheAnsiCodePage) {
    auto log = Make();
    WriteLog(log.get(), 4, "CVentoApp::CreateCobaltAppEnvLink> 바탕화면에 링크 생성 성공");
    const std::string bytes = kstest::ReadFileBytes(LogPath());
    EXPECT_EQ(bytes, plat::Utf8ToAnsi("2026/12/07=09:05:03.042 : ERROR "
                                      "CVentoApp::CreateCobaltAppEnvLink> 바탕화면에 링크 생성 "
                                      "성공") +
                         kEol);
    if (plat::AnsiCodePage() == 949) {
        EXPECT_NE(bytes.find("\xB9\xD9\xC5\xC1"), std::string::npos); // "바탕" in CP949
    }
}

} // namespace
