#include "app/ProgramDir.h"

#include "platform/FileSystem.h"
#include "platform/Path.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

namespace {

TEST(ProgramDir, FolderFromModulePath) {
    struct Case {
        const char* path;
        const char* expected;
    } const cases[] = {
#ifdef _WIN32
        {"C:\\App\\KestrelSync.exe", "C:\\App"},
        {"C:\\Program Files\\Arbor Lumen\\KestrelSyncRun1.exe", "C:\\Program Files\\Arbor Lumen"},
        {"C:\\KestrelSync.exe", "C:"},
        {"\\\\server\\share\\KestrelSync.exe", "\\\\server\\share"},
        {"C:\\App/KestrelSync.exe", "C:\\App"},
#endif
        {"/opt/lumen/KestrelSync", "/opt/lumen"},
        {"/opt/다운로드/KestrelSync", "/opt/다운로드"},
        {"/KestrelSync", "/"},
        {"KestrelSync.exe", "CURRENT"},
        {"", "CURRENT"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ProgramDirFromModulePath(c.path, "CURRENT"), c.expected) << c.path;
}

TEST(ProgramDir, InitProgramDirFindsTheRunningExecutable) {
    const std::string saved = g_szProgramDir;
    InitProgramDir();
    const std::string dir = g_szProgramDir;
    g_szProgramDir = saved;
    ASSERT_FALSE(dir.empty());
    EXPECT_FALSE(plat::IsPathSep(dir.back()));
    plat::FileStatus st;
    EXPECT_TRUE(plat::GetFileStatus(plat::JoinPath(dir, kstest::TestExecutableName()), st));
    ASSERT_TRUE(plat::GetFileStatus(plat::JoinPath(dir, "log"), st));
    EXPECT_TRUE(st.bFolder);
}

TEST(ProgramDir, WorkFoldersAreCreatedAndExistingOnesKept) {
    kstest::TempDir tmp;
    const std::string saved = g_szProgramDir;

    g_szProgramDir = tmp / "App";
    CreateWorkDirectories();
    plat::FileStatus st;
    for (const char* sub : {"log", "config"}) {
        ASSERT_TRUE(plat::GetFileStatus(plat::JoinPath(g_szProgramDir, sub), st)) << sub;
        EXPECT_TRUE(st.bFolder) << sub;
    }

    const std::string keep =
        plat::JoinPath(plat::JoinPath(g_szProgramDir, "config"), "KestrelSync.ini");
    ASSERT_TRUE(kstest::WriteFileBytes(keep, "[VENTO]\n"));
    CreateWorkDirectories();
    EXPECT_EQ(kstest::ReadFileBytes(keep), "[VENTO]\n");

    g_szProgramDir = saved;
}

} // namespace
