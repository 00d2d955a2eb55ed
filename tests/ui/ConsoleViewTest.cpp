// The console view on a terminal and on plain output.
#include "ui/console/ConsoleView.h"

#include "support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>

namespace {

using ::testing::HasSubstr;
using ::testing::MatchesRegex;
using ::testing::Not;

class ConsoleViewTest : public ::testing::Test {
protected:
    kstest::TempDir dir;
    std::string outPath = dir / "out.txt";
    std::string inPath = dir / "in.txt";
    std::FILE* out = std::fopen(outPath.c_str(), "wb");
    std::FILE* in = nullptr;

    ~ConsoleViewTest() override {
        if (out != nullptr)
            std::fclose(out);
        if (in != nullptr)
            std::fclose(in);
    }
    void Input(const std::string& text) {
        kstest::WriteFileBytes(inPath, text);
        in = std::fopen(inPath.c_str(), "rb");
    }
    std::string Output() {
        std::fflush(out);
        return kstest::ReadFileBytes(outPath);
    }
};

TEST_F(ConsoleViewTest, PlainLinesWhenNotATerminal) {
    CConsoleView view(out, stdin, false, false);
    view.SetStepText("서버로부터 파일 다운로드 중...");
    view.SetStepText("서버로부터 파일 다운로드 중..."); // unchanged: not repeated
    view.SetTotalRange(0, 8);
    view.SetTotalPos(3);
    view.SetTotalText("3 / 8  (37.5%)");
    view.SetFileNameText("checked.dll (크기 : 10)"); // checked only: no line
    view.SetFileNameText("ctl.dll (크기 : 1,234)");
    view.SetFileRange(0, 100); // a download begins
    view.SetFilePos(50);
    view.AddStatusRow(kStatusNormal, "프로그램 다운로드 완료");
    view.AddStatusRow(kStatusError, "a.dll 파일 다운로드 실패(-2) : 해당 파일이 없음");
    view.AddStatusRow(3, "no row for other kinds");
    const std::string text = Output();
    EXPECT_EQ(text.find('\033'), std::string::npos);
    EXPECT_EQ(text.find("서버로부터"), text.rfind("서버로부터"));
    EXPECT_THAT(text, HasSubstr("== 서버로부터 파일 다운로드 중...\n"));
    EXPECT_THAT(text, HasSubstr("   3 / 8  (37.5%)  ctl.dll (크기 : 1,234)\n"));
    EXPECT_THAT(text, MatchesRegex("(.|\n)*[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}"
                                   "         프로그램 다운로드 완료\n(.|\n)*"));
    EXPECT_THAT(text, HasSubstr("  [오류] a.dll 파일 다운로드 실패(-2) : 해당 파일이 없음\n"));
    EXPECT_THAT(text, Not(HasSubstr("no row")));
    EXPECT_THAT(text, Not(HasSubstr("checked.dll")));
    EXPECT_EQ(view.GetErrorRowCount(), 1);
}

TEST_F(ConsoleViewTest, BarsRedrawnInPlaceOnATerminal) {
    CConsoleView view(out, stdin, true, false);
    view.SetTotalRange(0, 4);
    view.SetTotalPos(2);
    view.SetFileRange(0, 100);
    view.SetFilePos(100);
    view.AddStatusRow(kStatusNormal, "row above the bars");
    view.Finish();
    const std::string text = Output();
    EXPECT_THAT(text, HasSubstr("전체 [###############---------------]  50%"));
    EXPECT_THAT(text, HasSubstr("파일 [##############################] 100%"));
    // A row erases the two bar lines, is printed, and the bars come back below it.
    EXPECT_THAT(text,
                MatchesRegex("(.|\n)*\r\033\\[K\033\\[1A\r\033\\[K[0-9-]{10} [0-9:]{8} +row above "
                             "the bars\n전체 (.|\n)*"));
    EXPECT_EQ(text.substr(text.size() - 12), "\r\033[K\033[1A\r\033[K");
}

TEST_F(ConsoleViewTest, RangesAreSixteenBit) {
    CConsoleView view(out, stdin, true, false);
    view.SetTotalRange(0, 65536 + 10); // the control keeps 10
    view.SetTotalPos(5);
    view.Finish();
    EXPECT_THAT(Output(), HasSubstr("전체 [###############---------------]  50%"));
}

TEST_F(ConsoleViewTest, PromptsTakeTheDefaultWhenNobodyAnswers) {
    CConsoleView view(out, stdin, false, false);
    EXPECT_EQ(view.ShowMessageBox("계속 진행하시겠습니까?", "오류 확인",
                                  kMbYesNo | kMbIconQuestion | kMbDefButton2),
              kIdNo);
    EXPECT_EQ(view.ShowMessageBox("ok?", "", kMbYesNo), kIdYes);
    EXPECT_EQ(view.ShowMessageBox("잠시후에 재시도 하여 주십시요.\r\n", "오류", kMbOk), kIdOk);
    const std::string text = Output();
    EXPECT_THAT(
        text,
        HasSubstr("[오류 확인]\n계속 진행하시겠습니까?\n예(y) / 아니요(n) [n]: n (기본값)\n"));
    EXPECT_THAT(text, HasSubstr("[알림]\nok?\n"));
    EXPECT_THAT(text, HasSubstr("[오류]\n잠시후에 재시도 하여 주십시요.\n확인 [Enter]: \n"));
}

TEST_F(ConsoleViewTest, PromptsReadTheAnswer) {
    Input("y\nn\n");
    CConsoleView view(out, in, false, true);
    const unsigned type = kMbYesNo | kMbDefButton2;
    EXPECT_EQ(view.ShowMessageBox("1", "", type), kIdYes);
    EXPECT_EQ(view.ShowMessageBox("2", "", kMbYesNo), kIdNo);
    EXPECT_EQ(view.ShowMessageBox("3", "", type), kIdNo); // end of input: the default
}

TEST_F(ConsoleViewTest, OutcomeIsKept) {
    CConsoleView view(out, stdin, false, false);
    EXPECT_EQ(view.GetOutcome(), -1);
    view.PostSyncDone(kSyncDoneDeclined);
    EXPECT_EQ(view.GetOutcome(), kSyncDoneDeclined);
}

} // namespace
