// Start-up: the copy to the run copies and their start, and the shortcuts written at exit.
#include "app/VentoApp.h"
#include "app/ProgramDir.h"
#include "config/SyncConfig.h"
#include "platform/FileSystem.h"
#include "platform/KnownFolders.h"
#include "platform/Path.h"
#include "platform/Process.h"
#include "platform/ProfileFile.h"
#include "platform/ShellLink.h"
#include "platform/Thread.h"
#include "support/LogCapture.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>

namespace {

using kstest::TempDir;
using ::testing::ElementsAre;

class VentoAppTest : public ::testing::Test {
protected:
    kstest::LogCapture log;
    TempDir program;
    std::string savedProgramDir = g_szProgramDir;
    CVentoApp app{nullptr};
    std::vector<std::string> messages; // message boxes the start-up showed

    VentoAppTest() {
        g_szProgramDir = program.Path();
        app.SetMessageBox([this](const std::string& text, const std::string&, unsigned nType) {
            messages.push_back(text);
            EXPECT_EQ(nType, 0u); // OK button only, no icon
            return 1;
        });
    }
    ~VentoAppTest() override { g_szProgramDir = savedProgramDir; }
    std::string Local(const std::string& name) const { return program / name; }
};

TEST_F(VentoAppTest, CopiesAndStartsTheRunCopy) {
    const std::pair<const char*, const char*> cases[] = {{"1", "KestrelSyncRun1.exe"},
                                                         {"2", "KestrelSyncRun2.exe"},
                                                         {"1 ", "KestrelSyncRun2.exe"},
                                                         {"x", "KestrelSyncRun2.exe"}};
    for (const auto& c : cases) {
        TempDir folder; // each copy in a folder of its own, free of a copy still running
        g_szProgramDir = folder.Path();
        ASSERT_TRUE(plat::CopyFileOver(kstest::FakeAppPath(), folder / "KestrelSync.exe"));
        EXPECT_EQ(app.RunFromCopy(c.first), 0);
        // The copy receives the argument (a trailing blank may not survive its command line).
        EXPECT_EQ(
            kstest::WaitForFileText(folder / (std::string(c.second) + ".started")).substr(0, 10),
            std::string("started [") + c.first[0])
            << c.first;
        plat::SleepMs(200); // the copy ends before its folder goes
    }
    EXPECT_TRUE(log.Messages().empty()); // nothing of this is logged
    EXPECT_TRUE(messages.empty());
}

TEST_F(VentoAppTest, MissingUpdaterLeavesTheWorkHere) {
    EXPECT_EQ(app.RunFromCopy("1"), -1);
    EXPECT_FALSE(kstest::Exists(Local("KestrelSyncRun1.exe")));
    EXPECT_TRUE(messages.empty());
}

TEST_F(VentoAppTest, RunCopyStillRunningCannotBeReplaced) {
    ASSERT_TRUE(plat::CopyFileOver(kstest::FakeAppPath(), Local("KestrelSync.exe")));
    ASSERT_TRUE(plat::CopyFileOver(kstest::FakeAppPath(), Local("KestrelSyncRun1.exe")));
    int pid = 0;
    ASSERT_TRUE(plat::StartApplication(Local("KestrelSyncRun1.exe") + " wait", pid));
    ASSERT_EQ(kstest::WaitForFileText(Local("KestrelSyncRun1.exe.started")), "started [wait]\n");
    plat::RemoveFile(Local("KestrelSyncRun1.exe.started"));
    // The busy copy cannot be replaced: the user is told and this process ends (0).
    EXPECT_EQ(app.RunFromCopy("1"), 0);
    plat::SleepMs(300);
    EXPECT_FALSE(kstest::Exists(Local("KestrelSyncRun1.exe.started"))); // nothing started
    std::string text;
    ASSERT_TRUE(plat::SystemErrorText(plat::kErrSharingViolation, text));
    EXPECT_THAT(messages, ElementsAre("프로그램을 복사할 수 없습니다.\n기존에 실행중인 프로그램을 "
                                      "종료후 다시시작하세요.\n에러 내용 : (32) " +
                                      text));
}

// ---- shortcuts -------------------------------------------------------------------------------

class AppLinksTest : public VentoAppTest {
protected:
    TempDir home;
    std::unique_ptr<kstest::ScopedEnv> envs[3];
    std::string suffix = "test" + std::to_string(std::rand() % 100000);

    AppLinksTest() {
#ifndef _WIN32
        envs[0] = std::make_unique<kstest::ScopedEnv>("HOME", home.Path());
        envs[1] = std::make_unique<kstest::ScopedEnv>("XDG_DATA_HOME", "");
        envs[2] = std::make_unique<kstest::ScopedEnv>("XDG_CONFIG_HOME", "");
        plat::CreateFolder(home / "Desktop"); // a desktop session has one
#endif
        CreateWorkDirectories();
        plat::WriteProfileString(ConfigFilePath(program.Path()), "VENTO", "LINK_APPEND_NAME",
                                 suffix);
    }
    ~AppLinksTest() override {
        for (const std::string& link : Links())
            plat::RemoveFile(link);
    }
    std::vector<std::string> Links() const {
        const std::string ext = plat::ShortcutExtension();
        const std::string menu =
            plat::JoinPath(plat::GetSpecialFolder(plat::SpecialFolder::Programs), "Arbor Lumen");
        return {plat::JoinPath(plat::GetSpecialFolder(plat::SpecialFolder::Desktop),
                               "Lumen Forge " + suffix + ext),
                plat::JoinPath(menu, "Lumen Forge " + suffix + ext),
                plat::JoinPath(menu, "Lumen Forge - 다운로드 장애시 " + suffix + ext)};
    }
};

TEST_F(AppLinksTest, ThreeShortcutsWithTheirTargets) {
    CSyncConfig config(ConfigFilePath(program.Path()));
    UpdateLinkNames(config);
    EXPECT_EQ(app.CreateAppLinks(), 0);
    const std::vector<std::string> links = Links();
    EXPECT_EQ(plat::ReadShortcutTarget(links[0]), Local("KestrelSync.exe"));
    EXPECT_EQ(plat::ReadShortcutTarget(links[1]), Local("KestrelSync.exe"));
    EXPECT_EQ(plat::ReadShortcutTarget(links[2]), Local("Lumen@Forge.exe"));
    EXPECT_THAT(log.LevelsAndMessages(),
                ElementsAre("ERROR CVentoApp::CreateCobaltAppEnvLink> 바탕화면에 링크 생성 성공",
                            "ERROR CVentoApp::CreateCobaltAppEnvLink> 바탕화면에 링크 생성 성공",
                            "ERROR CVentoApp::CreateCobaltAppEnvLink> 바탕화면에 링크 생성 성공"));
}

TEST_F(AppLinksTest, ShortcutThatCannotBeSavedDoesNotStopTheOthers) {
    CSyncConfig config(ConfigFilePath(program.Path()));
    UpdateLinkNames(config);
    const std::vector<std::string> links = Links();
    ASSERT_TRUE(plat::CreateFolder(links[0])); // a folder where the desktop shortcut goes
    EXPECT_EQ(app.CreateAppLinks(), 0);
    plat::RemoveFolder(links[0]);
    EXPECT_FALSE(plat::ReadShortcutTarget(links[1]).empty());
    EXPECT_FALSE(plat::ReadShortcutTarget(links[2]).empty());
    EXPECT_THAT(log.LevelsAndMessages(),
                ElementsAre("ERROR CVentoApp::CreateCobaltAppEnvLink> 바탕화면에 링크 생성 실패",
                            "ERROR CVentoApp::CreateCobaltAppEnvLink> 바탕화면에 링크 생성 성공",
                            "ERROR CVentoApp::CreateCobaltAppEnvLink> 바탕화면에 링크 생성 성공"));
}

TEST_F(AppLinksTest, NamesComeFromTheSettingsWhenTheDialogNeverRan) {
    g_szAppDisplayName.clear();
    g_szEmergencyLinkName.clear();
    EXPECT_EQ(app.CreateAppLinks(), 0);
    for (const std::string& link : Links())
        EXPECT_TRUE(kstest::Exists(link)) << link;
    EXPECT_FALSE(kstest::Exists(plat::JoinPath(plat::GetSpecialFolder(plat::SpecialFolder::Desktop),
                                               plat::ShortcutExtension())));
}

} // namespace
