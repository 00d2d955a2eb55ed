// The post-install steps: deletions, fonts, registry files and COM registration. On POSIX a
// stand-in "wine" on the PATH records how the Windows programs are started; under Wine the
// registry editor and regsvr32.exe run for real.
#include "engine/SyncEngine.h"
#include "platform/FileSystem.h"
#include "platform/Fonts.h"
#include "platform/KnownFolders.h"
#include "platform/Path.h"
#include "platform/Process.h"
#include "support/FakeView.h"
#include "support/LogCapture.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"
#include "support/TestMachine.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

using kstest::TempDir;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

class PostInstallTest : public ::testing::Test {
protected:
    kstest::LogCapture log;
    kstest::TestMachine machine;
    TempDir app;
    kstest::FakeView view;
    CSyncEngine engine;

    PostInstallTest() {
        engine.m_pDlg = &view;
        g_strWindowsDir = machine.WindowsFolder();
        g_strSystemDir = machine.SystemFolder();
    }
    DownFileItem& Add(const std::string& target, int nType, int nSyncOk,
                      const std::string& bytes = "x") {
        auto item = std::make_unique<DownFileItem>();
        item->m_strServerFile = "srv/" + target;
        item->m_strTargetFile = app / target;
        item->m_nFileType = nType;
        item->m_nFileClass = kFileClassApp;
        item->m_nSyncOkFlag = nSyncOk;
        if (!bytes.empty()) {
            EXPECT_TRUE(kstest::WriteFileBytes(item->m_strTargetFile, bytes));
        }
        engine.m_DownFileItemList.push_back(std::move(item));
        return *engine.m_DownFileItemList.back();
    }
};

TEST_F(PostInstallTest, ExecutablesAreOnlyNamed) {
    Add("tool.exe", kFileTypeCmd, 1);
    EXPECT_EQ(engine.HandleExecuteTypeFiles(), 0);
    EXPECT_THAT(view.Calls(), ElementsAre("file:", "step:실행 파일 처리중..."));
    EXPECT_TRUE(kstest::Exists(app / "tool.exe"));
}

TEST_F(PostInstallTest, DeletionsWhateverTheFlag) {
    Add("a.dll", kFileTypeDel, 0);
    Add("b.dll", kFileTypeDel, 1);
    Add("keep.dll", kFileTypeFile, 1);
    Add("absent.dll", kFileTypeDel, 0, "");
    EXPECT_EQ(engine.HandleDeleteTypeFiles(), 0);
    EXPECT_FALSE(kstest::Exists(app / "a.dll"));
    EXPECT_FALSE(kstest::Exists(app / "b.dll"));
    EXPECT_TRUE(kstest::Exists(app / "keep.dll"));
    std::string text;
    ASSERT_TRUE(plat::SystemErrorText(plat::kErrFileNotFound, text));
    EXPECT_THAT(log.LevelsAndMessages(),
                ElementsAre("INFO  CSyncEngine::HandleDeleteTypeFiles> Delete Local Flle = " +
                                (app / "a.dll"),
                            HasSubstr("Delete Local Flle = " + (app / "b.dll")),
                            HasSubstr("Delete Local Flle = " + (app / "absent.dll")),
                            "INFO  CSyncEngine::HandleDeleteTypeFiles> DeleteFile(" +
                                (app / "absent.dll") + ") Error, ErrCode = 2",
                            "INFO  CMyLog::LogLastErrorText> " + text));
}

TEST_F(PostInstallTest, MissingRegSvr32FailsTheStepEvenWithoutComponents) {
    kstest::TestMachine bare(false);
#ifdef _WIN32
    g_strSystemDir = app.Path(); // a system folder without regsvr32.exe
#else
    g_strSystemDir = bare.SystemFolder();
#endif
    Add("c.dll", kFileTypeFile, 1);
    EXPECT_EQ(engine.HandleRegisterTypeFilesByRegSvr32(), -2);
    ASSERT_EQ(view.MessageBoxes().size(), 1u);
    EXPECT_EQ(view.MessageBoxes()[0].strText,
              "시스템에서 regsvr32.exe 파일을 찾을 수 없어 레지스트리에 파일을 등록 할 수가 "
              "없습니다.");
    EXPECT_EQ(view.MessageBoxes()[0].nType, kMbOk | kMbIconError);
    EXPECT_THAT(log.Messages(), IsEmpty());
}

// ---- fonts ---------------------------------------------------------------------------------

class FontTest : public PostInstallTest {
protected:
    std::string fontBytes;
    std::vector<std::string> installed; // fonts folder entries to remove afterwards

    FontTest() {
#ifdef _WIN32
        fontBytes = kstest::ReadFileBytes("Z:\\usr\\share\\wine\\fonts\\tahoma.ttf");
#else
        fontBytes = "a font file";
#endif
    }
    ~FontTest() override {
        for (const std::string& name : installed) {
            plat::RemoveFontFile(name);
            plat::RemoveFile(plat::JoinPath(machine.FontsFolder(), name));
        }
    }
    // A font name of this test run, not yet in the fonts folder.
    std::string NewFontName(const char* base) {
        static std::atomic<int> counter{0};
        const std::string name = "kstest-" + std::to_string(std::rand() % 100000) + "-" +
                                 std::to_string(counter++) + "-" + base;
        installed.push_back(name);
        return name;
    }
};

TEST_F(FontTest, NewFontIsCopiedAndAdded) {
    if (fontBytes.empty())
        GTEST_SKIP() << "needs Wine's tahoma.ttf to have a font the system accepts";
    const std::string name = NewFontName("new.ttf");
    Add(name, kFileTypeFont, 1, fontBytes);
    EXPECT_EQ(engine.HandleFontTypeFiles(), 0);
    const std::string installedPath = plat::JoinPath(machine.FontsFolder(), name);
    EXPECT_EQ(kstest::ReadFileBytes(installedPath), fontBytes);
#ifndef _WIN32
    // The desktop gets it through the user's fonts folder.
    EXPECT_EQ(kstest::ReadFileBytes(
                  plat::JoinPath(plat::GetSpecialFolder(plat::SpecialFolder::Fonts), name)),
              fontBytes);
#endif
    EXPECT_THAT(log.Messages(),
                Contains("CVentoExeDlg::ProcessFontFile> strFontDir = " + machine.FontsFolder()));
    EXPECT_THAT(log.Messages(),
                Contains("CVentoExeDlg::ProcessFontFile> CopyFile(" + installedPath + ") Success"));
    EXPECT_THAT(log.Messages(),
                Contains(HasSubstr("CVentoExeDlg::ProcessFontFile> AddFontRecource(" + name +
                                   ") Success, nRet = ")));
    EXPECT_THAT(view.Calls(), Contains("step:글꼴 등록중..."));
}

TEST_F(FontTest, FontAlreadyThereIsNotOverwritten) {
    const std::string name = NewFontName("old.ttf");
    const std::string installedPath = plat::JoinPath(machine.FontsFolder(), name);
    ASSERT_TRUE(kstest::WriteFileBytes(installedPath, "the font already installed"));
    Add(name, kFileTypeFont, 1, "a newer download");
    EXPECT_EQ(engine.HandleFontTypeFiles(), 0); // even when the system refuses the old file
    EXPECT_EQ(kstest::ReadFileBytes(installedPath), "the font already installed");
    EXPECT_THAT(log.Messages(), Contains("CVentoExeDlg::ProcessFontFile> Previous Font(" +
                                         installedPath + ") is Already Exist"));
}

TEST_F(FontTest, FontDownloadedIntoTheFontsFolderIsOnlyAdded) {
    const std::string name = NewFontName("inplace.ttf");
    DownFileItem& item = Add("placeholder.ttf", kFileTypeFont, 1, "");
    item.m_strTargetFile = plat::JoinPath(machine.FontsFolder(), name);
    ASSERT_TRUE(kstest::WriteFileBytes(item.m_strTargetFile, fontBytes.empty() ? "f" : fontBytes));
    EXPECT_EQ(engine.HandleFontTypeFiles(), 0);
    EXPECT_THAT(log.Messages(), Contains(HasSubstr("is Already Exist")));
    EXPECT_THAT(log.Messages(), ::testing::Not(Contains(HasSubstr("CopyFile("))));
}

TEST_F(FontTest, FailedCopyFailsTheStepButNotTheOthers) {
    const std::string missing = NewFontName("missing.ttf");
    Add(missing, kFileTypeFont, 1, ""); // the downloaded file is not there
    const std::string skipped = NewFontName("skipped.ttf");
    Add(skipped, kFileTypeFont, 0, "not downloaded this time");
    std::string second;
    if (!fontBytes.empty()) {
        second = NewFontName("second.ttf");
        Add(second, kFileTypeFont, 1, fontBytes);
    }
    EXPECT_EQ(engine.HandleFontTypeFiles(), -1);
    EXPECT_THAT(log.LevelsAndMessages(),
                Contains("ERROR CVentoExeDlg::ProcessFontFile> CopyFile(" +
                         plat::JoinPath(machine.FontsFolder(), missing) + ") Fail, ErrCode = 2"));
    EXPECT_FALSE(kstest::Exists(plat::JoinPath(machine.FontsFolder(), skipped)));
    if (!second.empty()) {
        EXPECT_TRUE(kstest::Exists(plat::JoinPath(machine.FontsFolder(), second)));
    }
}

// ---- registry files and COM registration -----------------------------------------------------

#ifndef _WIN32
// A "wine" that writes its current folder and arguments to a file, one line per start.
class RecordingWine {
public:
    TempDir bin;
    std::string record = bin / "starts.txt";
    std::unique_ptr<kstest::ScopedEnv> path;

    explicit RecordingWine(bool bPresent = true) {
        if (bPresent) {
            const std::string script = bin / "wine";
            kstest::WriteFileBytes(script,
                                   "#!/bin/sh\nprintf '%s\\n' \"$PWD|$*\" >> '" + record + "'\n");
            ::chmod(script.c_str(), 0755);
        }
        path = std::make_unique<kstest::ScopedEnv>("PATH", bin.Path());
    }
    std::vector<std::string> Starts(std::size_t n) const {
        std::vector<std::string> lines;
        for (int i = 0; i < 600 && lines.size() < n; ++i) {
            lines.clear();
            std::string text = kstest::ReadFileBytes(record);
            for (std::size_t end; (end = text.find('\n')) != std::string::npos;) {
                lines.push_back(text.substr(0, end));
                text.erase(0, end + 1);
            }
            if (lines.size() < n)
                plat::SleepMs(50);
        }
        return lines;
    }
};

TEST_F(PostInstallTest, RegistryFilesAndComponentsAreHandedOver) {
    RecordingWine wine;
    ASSERT_TRUE(plat::CreateFolder(app / "com"));
    Add("a.reg", kFileTypeRef, 1);
    Add("b.reg", kFileTypeRef, 0);
    Add("com/ctl.ocx", kFileTypeReg, 1);
    Add("com/skipped.ocx", kFileTypeReg, 0);
    const std::string cwd = plat::GetCurrentFolder();
    EXPECT_EQ(engine.HandleRegistryTypeFiles(), 0);
    EXPECT_EQ(engine.HandleRegisterTypeFilesByRegSvr32(), 0);
    EXPECT_EQ(plat::GetCurrentFolder(), cwd); // the updater's own folder stays
    const std::string regsvr32 = plat::ToWinePath(machine.SystemFolder() + "/regsvr32.exe");
    // The two programs run on their own: their records may come in either order.
    EXPECT_THAT(wine.Starts(2), ::testing::UnorderedElementsAre(
                                    app.Path() + "|regedit -s " + plat::ToWinePath(app / "a.reg"),
                                    (app / "com") + "|" + regsvr32 + " /s ctl.ocx"));
    EXPECT_THAT(log.Messages(), Contains("CSyncEngine::ProcessRegistryFile> Cmd Str : regedit -s " +
                                         (app / "a.reg") + " "));
    EXPECT_THAT(log.Messages(),
                Contains("CSyncEngine::ProcessRegisterFileByRegSvr32> Cmd Str : " +
                         machine.SystemFolder() + "/regsvr32.exe /s " + (app / "com/ctl.ocx")));
    EXPECT_TRUE(kstest::Exists(app / "b.reg"));
    EXPECT_TRUE(kstest::Exists(app / "com/skipped.ocx"));
}

TEST_F(PostInstallTest, FailedHandOverDeletesTheLocalFile) {
    RecordingWine nowine(false);
    Add("a.reg", kFileTypeRef, 1);
    Add("first.ocx", kFileTypeReg, 1);
    Add("second.ocx", kFileTypeReg, 1);
    EXPECT_EQ(engine.HandleRegistryTypeFiles(), -1);
    EXPECT_EQ(engine.HandleRegisterTypeFilesByRegSvr32(), -1);
    for (const char* name : {"a.reg", "first.ocx", "second.ocx"})
        EXPECT_FALSE(kstest::Exists(app / name)) << name;
    const std::vector<std::string> lines = log.LevelsAndMessages();
    EXPECT_THAT(lines, Contains("DEBUG CSyncEngine::ProcessRegistryFile> " + (app / "a.reg") +
                                " 파일 등록에 실패하였습니다."));
    EXPECT_THAT(lines, Contains("WARN  CSyncEngine::HandleRegistryTypeFiles> Delete Local Flle = " +
                                (app / "a.reg")));
    EXPECT_THAT(lines, Contains(HasSubstr("ERROR CSyncEngine::ProcessRegisterFileByRegSvr32> "
                                          "WinExec(" +
                                          (app / "first.ocx") + ") Fail, ErrCode = ")));
    EXPECT_THAT(lines, Contains("WARN  CSyncEngine::HandleRegisterTypeFilesByRegSvr32> Delete "
                                "Local Flle = " +
                                (app / "second.ocx")));
}
#else
TEST_F(PostInstallTest, RegistryFileIsMergedForReal) {
    ::RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\KestrelSyncTest");
    Add("merge.reg", kFileTypeRef, 1,
        "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\KestrelSyncTest]\r\n"
        "\"Merged\"=\"yes\"\r\n");
    EXPECT_EQ(engine.HandleRegistryTypeFiles(), 0);
    wchar_t value[32] = {};
    DWORD size = sizeof value;
    LSTATUS status = ERROR_FILE_NOT_FOUND;
    for (int i = 0; i < 600 && status != ERROR_SUCCESS; ++i) {
        size = sizeof value;
        status = ::RegGetValueW(HKEY_CURRENT_USER, L"Software\\KestrelSyncTest", L"Merged",
                                RRF_RT_REG_SZ, nullptr, value, &size);
        if (status != ERROR_SUCCESS)
            plat::SleepMs(50);
    }
    EXPECT_EQ(status, ERROR_SUCCESS);
    EXPECT_STREQ(value, L"yes");
    ::RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\KestrelSyncTest");
}

TEST_F(PostInstallTest, ComponentIsRegisteredFromItsOwnFolder) {
    const std::string module = plat::GetModulePath();
    const std::string dll =
        plat::JoinPath(module.substr(0, plat::LastSepPos(module)), "ks_regtest.dll");
    ASSERT_TRUE(kstest::Exists(dll)) << dll;
    ASSERT_TRUE(plat::CreateFolder(app / "com"));
    DownFileItem& item = Add("com\\ctl.ocx", kFileTypeReg, 1, "");
    ASSERT_TRUE(plat::CopyFileOver(dll, item.m_strTargetFile));
    const std::string cwd = plat::GetCurrentFolder();
    EXPECT_EQ(engine.HandleRegisterTypeFilesByRegSvr32(), 0);
    EXPECT_EQ(plat::GetCurrentFolder(), cwd);
    EXPECT_EQ(kstest::WaitForFileText(app / "com\\registered.txt"), app / "com");
    EXPECT_THAT(log.Messages(),
                Contains(HasSubstr("CSyncEngine::ProcessRegisterFileByRegSvr32> File(" +
                                   item.m_strTargetFile + ") is registered.")));
}
#endif

} // namespace
