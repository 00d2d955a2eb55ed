#include "config/DirKeyMap.h"

#include "diag/MyLog.h"
#include "platform/FileSystem.h"
#include "platform/KnownFolders.h"
#include "platform/Path.h"
#include "platform/Text.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"
#include "updatelist/DownFileItem.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <sstream>

namespace {

using kstest::TempDir;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

const char* const kKeys[] = {"_FONTS",         "_WINDOWS",      "_DESKTOPDIRECTORY",
                             "_PROGRAMS",      "_STARTUP",      "_SYSTEM",
                             "_PROGRAM_FILES", "_SYSTEM_32BIT", "_PROGRAM_FILES_32BIT"};

// A machine whose folders lie in a temporary folder: "<tmp>/drive/windows" and friends.
class FakeMachine {
public:
    TempDir tmp;
    std::string drive = tmp / "drive";
    std::string windows = plat::JoinPath(drive, "windows");
    std::map<plat::SpecialFolder, std::string> folders;

    FakeMachine() {
        plat::CreateFolder(drive);
        plat::CreateFolder(windows);
        folders[plat::SpecialFolder::Windows] = windows;
        folders[plat::SpecialFolder::Fonts] = plat::JoinPath(windows, "Fonts");
        folders[plat::SpecialFolder::System] = plat::JoinPath(windows, "system32");
        folders[plat::SpecialFolder::ProgramFiles] = plat::JoinPath(drive, "Program Files");
        folders[plat::SpecialFolder::DesktopDirectory] = tmp / "Desktop";
        folders[plat::SpecialFolder::Programs] = tmp / "Programs";
        folders[plat::SpecialFolder::Startup] = tmp / "Startup";
    }
    CDirKeyMap::FolderSource Source() const {
        return [this](plat::SpecialFolder f) {
            const auto it = folders.find(f);
            return it == folders.end() ? std::string() : it->second;
        };
    }
};

std::string Value(const CDirKeyMap& map, const std::string& key) {
    std::string value = "<none>";
    map.GetSpecialDir(key, value);
    return value;
}

TEST(DirKeyMap, NineKeysWithTheMachinesFolders) {
    FakeMachine machine;
    CDirKeyMap map;
    map.LoadSpecialDirMap(machine.Source());
    EXPECT_EQ(map.GetCount(), 9u);
    EXPECT_EQ(Value(map, "_FONTS"), machine.folders[plat::SpecialFolder::Fonts]);
    EXPECT_EQ(Value(map, "_WINDOWS"), machine.windows);
    EXPECT_EQ(Value(map, "_SYSTEM"), machine.folders[plat::SpecialFolder::System]);
    EXPECT_EQ(Value(map, "_PROGRAM_FILES"), machine.folders[plat::SpecialFolder::ProgramFiles]);
    EXPECT_EQ(Value(map, "_STARTUP"), machine.folders[plat::SpecialFolder::Startup]);
    EXPECT_EQ(Value(map, "_nokey"), "<none>");
}

TEST(DirKeyMap, ThirtyTwoBitFoldersFollowWhatExists) {
    FakeMachine machine;
    CDirKeyMap map;
    map.LoadSpecialDirMap(machine.Source());
    EXPECT_EQ(Value(map, "_SYSTEM_32BIT"), plat::JoinPath(machine.windows, "System32"));

    ASSERT_TRUE(plat::CreateFolder(plat::JoinPath(machine.windows, "SysWOW64")));
    map.LoadSpecialDirMap(machine.Source());
    EXPECT_EQ(Value(map, "_SYSTEM_32BIT"), plat::JoinPath(machine.windows, "SysWOW64"));
#ifdef _WIN32
    // The drive is the real C: drive of the machine.
    const bool bX86 = kstest::Exists("C:\\Program Files (x86)");
    EXPECT_EQ(Value(map, "_PROGRAM_FILES_32BIT"),
              bX86 ? "C:\\Program Files (x86)" : "C:\\Program Files");
#else
    EXPECT_EQ(Value(map, "_PROGRAM_FILES_32BIT"), plat::JoinPath(machine.drive, "Program Files"));
    ASSERT_TRUE(plat::CreateFolder(plat::JoinPath(machine.drive, "Program Files (x86)")));
    map.LoadSpecialDirMap(machine.Source());
    EXPECT_EQ(Value(map, "_PROGRAM_FILES_32BIT"),
              plat::JoinPath(machine.drive, "Program Files (x86)"));
#endif
}

#ifndef _WIN32
TEST(DirKeyMap, WinePrefixSpellingIsKept) {
    // A Wine prefix names the folder "syswow64"; the map names the folder that exists.
    FakeMachine machine;
    ASSERT_TRUE(plat::CreateFolder(plat::JoinPath(machine.windows, "syswow64")));
    CDirKeyMap map;
    map.LoadSpecialDirMap(machine.Source());
    EXPECT_EQ(Value(map, "_SYSTEM_32BIT"), plat::JoinPath(machine.windows, "syswow64"));
}
#endif

TEST(DirKeyMap, EmptyWindowsFolder) {
    CDirKeyMap map;
    map.LoadSpecialDirMap([](plat::SpecialFolder) { return std::string(); });
    EXPECT_EQ(Value(map, "_FONTS"), "");
    EXPECT_EQ(Value(map, "_PROGRAM_FILES_32BIT"), "");
    const std::string system32 = Value(map, "_SYSTEM_32BIT");
    EXPECT_EQ(system32[0], plat::kPathSep);
    EXPECT_THAT(system32, ::testing::AnyOf(HasSubstr("System32"), HasSubstr("SysWOW64"),
                                           HasSubstr("syswow64"), HasSubstr("system32")));
}

TEST(DirKeyMap, ExpansionMatchesWholeKeysExactly) {
    FakeMachine machine;
    machine.folders[plat::SpecialFolder::Startup] = "";
    CDirKeyMap map;
    map.LoadSpecialDirMap(machine.Source());
    const std::string sep(1, plat::kPathSep);
    const std::string fonts = machine.folders[plat::SpecialFolder::Fonts];
    const std::string pf = machine.folders[plat::SpecialFolder::ProgramFiles];
    const std::pair<std::string, std::string> cases[] = {
        {"_FONTS" + sep + "a.ttf", fonts + sep + "a.ttf"},
        {"_FONTS" + sep, fonts + sep},
        {"_FONTS" + sep + "sub" + sep + "b.ttf", fonts + sep + "sub" + sep + "b.ttf"},
        {"_PROGRAM_FILES" + sep + "x.exe", pf + sep + "x.exe"},
        {"_PROGRAM_FILES_32BIT" + sep + "x.exe",
         Value(map, "_PROGRAM_FILES_32BIT") + sep + "x.exe"},
        {"_STARTUP" + sep + "x.lnk", sep + "x.lnk"},
        {"_SYSTEM", "_SYSTEM"},
        {"_system" + sep + "x.dll", "_system" + sep + "x.dll"},
        {"_NOKEY" + sep + "x.dll", "_NOKEY" + sep + "x.dll"},
        {"bin" + sep + "_FONTS" + sep + "x", "bin" + sep + "_FONTS" + sep + "x"},
        {"", ""},
        {"_", "_"},
    };
    for (const auto& c : cases) {
        DownFileItem item;
        item.m_strTargetFile = c.first;
        map.ExpandSpecialDirPath(item);
        EXPECT_EQ(item.m_strTargetFile, c.second) << c.first;
    }
}

TEST(DirKeyMap, LoadAndClearAreLogged) {
    TempDir logDir;
    CMyLog log(10, logDir.Path(), "P");
    g_pMyLog = &log;
    FakeMachine machine;
    CDirKeyMap map;
    map.LoadSpecialDirMap(machine.Source());
    map.ClearSpecialDirMap();
    g_pMyLog = nullptr;
    EXPECT_EQ(map.GetCount(), 0u);

    std::istringstream text(plat::AnsiToUtf8(kstest::ReadFileBytes(log.GetLogPath())));
    std::vector<std::string> keys;
    std::string last;
    for (std::string line; std::getline(text, line);) {
        const std::string marker = "DEBUG CVentoDlg::LoadSpecialDirMap> ";
        const std::size_t at = line.find(marker);
        if (at != std::string::npos)
            keys.push_back(line.substr(at + marker.size(), line.find(" = [") - at - marker.size()));
        last = line;
    }
    EXPECT_EQ(keys, std::vector<std::string>(std::begin(kKeys), std::end(kKeys)));
    EXPECT_THAT(last, HasSubstr("DEBUG CVentoExeApp::ClearSpecialDirMap> Map Count = 9"));
}

TEST(KnownFolders, RealFoldersAreAbsoluteWithoutTrailingSeparator) {
    CDirKeyMap map;
    map.LoadSpecialDirMap();
    for (const char* key : kKeys) {
        const std::string value = Value(map, key);
        if (value.empty())
            continue;
        EXPECT_NE(value.back(), plat::kPathSep) << key;
#ifdef _WIN32
        EXPECT_EQ(value[1], ':') << key << " = " << value;
#else
        EXPECT_EQ(value[0], '/') << key << " = " << value;
#endif
    }
#ifdef _WIN32
    for (const char* key : kKeys)
        EXPECT_NE(Value(map, key), "") << key;
    EXPECT_EQ(plat::GetSpecialFolder(plat::SpecialFolder::Windows), plat::GetWindowsFolder());
    EXPECT_EQ(plat::GetSpecialFolder(plat::SpecialFolder::System), plat::GetSystemFolder());
#endif
}

#ifndef _WIN32
using kstest::ScopedEnv;

TEST(KnownFolders, PosixFoldersFromXdgAndTheWinePrefix) {
    TempDir home;
    ScopedEnv envHome("HOME", home.Path());
    ScopedEnv dataHome("XDG_DATA_HOME", "");
    ScopedEnv configHome("XDG_CONFIG_HOME", home / "cfg/");
    ScopedEnv prefix("WINEPREFIX", home / "wine");

    EXPECT_EQ(plat::GetSpecialFolder(plat::SpecialFolder::Fonts), home / ".local/share/fonts");
    EXPECT_EQ(plat::GetSpecialFolder(plat::SpecialFolder::Programs),
              home / ".local/share/applications");
    EXPECT_EQ(plat::GetSpecialFolder(plat::SpecialFolder::Startup), home / "cfg/autostart");
    EXPECT_EQ(plat::GetSpecialFolder(plat::SpecialFolder::Desktop), home / "Desktop");
    EXPECT_EQ(plat::GetWindowsFolder(), "");
    EXPECT_EQ(plat::GetSystemFolder(), "");
    EXPECT_EQ(plat::GetSpecialFolder(plat::SpecialFolder::ProgramFiles), "");

    ASSERT_TRUE(plat::CreateFolder(home / "cfg"));
    ASSERT_TRUE(kstest::WriteFileBytes(home / "cfg/user-dirs.dirs",
                                       "# comment\nXDG_DESKTOP_DIR=\"$HOME/바탕 화면/\"\n"));
    EXPECT_EQ(plat::GetSpecialFolder(plat::SpecialFolder::DesktopDirectory), home / "바탕 화면");

    ASSERT_TRUE(plat::CreateFolder(home / "wine"));
    ASSERT_TRUE(plat::CreateFolder(home / "wine/drive_c"));
    EXPECT_EQ(plat::GetWindowsFolder(), home / "wine/drive_c/windows");
    EXPECT_EQ(plat::GetSystemFolder(), home / "wine/drive_c/windows/system32");
    EXPECT_EQ(plat::DriveRootOf(plat::GetWindowsFolder()), home / "wine/drive_c");
}
#endif

} // namespace
