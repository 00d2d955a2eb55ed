// Shortcuts written and read back on both platforms: shell links through the system's shell
// object on Windows (Wine's under Wine), desktop entries on POSIX.
#include "platform/ShellLink.h"

#include "platform/FileSystem.h"
#include "platform/Path.h"
#include "platform/Text.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>

#include <objbase.h>

#include <thread>
#else
#include <sys/stat.h>
#endif

namespace {

using kstest::TempDir;

std::string LinkName(const std::string& stem) {
    return stem + plat::ShortcutExtension();
}

// Every name in the folder, hidden ones included, sorted.
std::vector<std::string> Entries(const std::string& folder) {
    std::vector<plat::FoundFile> found;
    std::vector<std::string> names;
    if (plat::FindFiles(plat::JoinPath(folder, "*"), found)) {
        for (const plat::FoundFile& file : found)
            names.push_back(file.strName);
    }
    return names;
}

#ifdef _WIN32

// The parts of a shell link file (the Shell Link Binary File Format) that CreateShortcut
// decides on.
struct LinkFile {
    bool bParsed = false;
    std::uint32_t flags = 0;
    std::string arguments;
};

enum : std::uint32_t {
    kHasIdList = 0x1,
    kHasLinkInfo = 0x2,
    kHasName = 0x4,
    kHasRelativePath = 0x8,
    kHasWorkingDir = 0x10,
    kHasArguments = 0x20,
    kHasIconLocation = 0x40,
    kIsUnicode = 0x80,
};

LinkFile ParseLinkFile(const std::string& bytes) {
    const auto byteAt = [&](std::size_t at) {
        return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at]));
    };
    const auto u16 = [&](std::size_t at) { return byteAt(at) | byteAt(at + 1) << 8; };
    const auto u32 = [&](std::size_t at) { return u16(at) | u16(at + 2) << 16; };
    constexpr std::size_t kHeaderSize = 0x4C;
    LinkFile link;
    if (bytes.size() < kHeaderSize || u32(0) != kHeaderSize)
        return link;
    link.flags = u32(20);
    std::size_t pos = kHeaderSize;
    if (link.flags & kHasIdList) {
        if (pos + 2 > bytes.size())
            return link;
        pos += 2 + u16(pos);
    }
    if (link.flags & kHasLinkInfo) {
        if (pos + 4 > bytes.size())
            return link;
        pos += u32(pos);
    }
    // The strings follow in this order, each a count of characters and the characters.
    for (const std::uint32_t bit : {kHasName, kHasRelativePath, kHasWorkingDir, kHasArguments}) {
        if ((link.flags & bit) == 0)
            continue;
        if (pos + 2 > bytes.size())
            return link;
        const std::size_t count = u16(pos);
        const std::size_t unit = (link.flags & kIsUnicode) != 0 ? 2 : 1;
        pos += 2;
        if (pos + count * unit > bytes.size())
            return link;
        if (bit == kHasArguments) {
            std::u16string wide;
            for (std::size_t i = 0; unit == 2 && i < count; ++i)
                wide += static_cast<char16_t>(u16(pos + 2 * i));
            link.arguments =
                unit == 2 ? plat::Utf16ToUtf8(wide) : plat::AnsiToUtf8(bytes.substr(pos, count));
            // Wine counts a terminating NUL that Windows leaves out.
            while (!link.arguments.empty() && link.arguments.back() == '\0')
                link.arguments.pop_back();
        }
        pos += count * unit;
    }
    link.bParsed = true;
    return link;
}

#else

// The value of the Exec key as the desktop entry spells it.
std::string ExecLine(const std::string& path) {
    const std::string text = kstest::ReadFileBytes(path);
    const std::size_t start = text.find("\nExec=");
    if (start == std::string::npos)
        return std::string();
    const std::size_t value = start + 6;
    return text.substr(value, text.find('\n', value) - value);
}

unsigned ModeOf(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<unsigned>(st.st_mode & 07777) : 0u;
}

#endif

class ShellLinkTest : public ::testing::Test {
protected:
    TempDir dir;

    // A program file in the test folder; "MZ" makes it a Windows program.
    std::string Target(const std::string& name, const std::string& bytes = "MZ\x90") {
        const std::string path = dir / name;
        EXPECT_TRUE(kstest::WriteFileBytes(path, bytes)) << path;
        return path;
    }
};

TEST_F(ShellLinkTest, KoreanTargetWithBlanksReadsBack) {
    const std::string target = Target("다운로드 도우미 v2.exe");
    const std::string link = dir / LinkName("KestrelSync 바로가기");

    ASSERT_EQ(plat::CreateShortcut(link, target, ""), 0) << plat::LastErrorCode();
    EXPECT_EQ(plat::ReadShortcutTarget(link), target);
    EXPECT_EQ(Entries(dir.Path()), (std::vector<std::string>{LinkName("KestrelSync 바로가기"),
                                                             "다운로드 도우미 v2.exe"}));
#ifdef _WIN32
    const LinkFile file = ParseLinkFile(kstest::ReadFileBytes(link));
    ASSERT_TRUE(file.bParsed);
    EXPECT_EQ(file.flags & (kHasName | kHasWorkingDir | kHasIconLocation), 0u)
        << "no description, working folder or icon of its own";
#endif
}

TEST_F(ShellLinkTest, ArgumentsPresentAndAbsent) {
    struct Case {
        const char* arguments;
        const char* posixExecTail; // after the quoted target
    } const cases[] = {
        {"", ""},
        {"--silent", " --silent"},
        {R"(/list "C:\Kestrel Sync\목록.txt")", R"( /list "C:\\\\Kestrel Sync\\\\목록.txt")"},
        {"/price $5", R"( /price "\\$5")"},
        {R"(say \"hi\")", R"( say "\\"hi\\"")"},
    };
    const std::string target = Target("Kestrel Sync.exe");
    for (const Case& c : cases) {
        const std::string link = dir / LinkName("args");
        ASSERT_EQ(plat::CreateShortcut(link, target, c.arguments), 0) << c.arguments;
        EXPECT_EQ(plat::ReadShortcutTarget(link), target) << c.arguments;
#ifdef _WIN32
        const LinkFile file = ParseLinkFile(kstest::ReadFileBytes(link));
        ASSERT_TRUE(file.bParsed) << c.arguments;
        EXPECT_EQ((file.flags & kHasArguments) != 0, *c.arguments != '\0') << c.arguments;
        EXPECT_EQ(file.arguments, c.arguments);
#else
        EXPECT_EQ(ExecLine(link), "wine \"" + target + "\"" + c.posixExecTail);
#endif
    }
}

TEST_F(ShellLinkTest, ReplacesAnExistingShortcut) {
    const std::string first = Target("first.exe");
    const std::string second = Target("두번째 프로그램.exe");
    const std::string link = dir / LinkName("KestrelSync");

    ASSERT_EQ(plat::CreateShortcut(link, first, "--old"), 0);
    ASSERT_EQ(plat::CreateShortcut(link, second, ""), 0) << plat::LastErrorCode();
    EXPECT_EQ(plat::ReadShortcutTarget(link), second);
    EXPECT_EQ(Entries(dir.Path()), (std::vector<std::string>{LinkName("KestrelSync"), "first.exe",
                                                             "두번째 프로그램.exe"}));
#ifndef _WIN32
    EXPECT_EQ(ExecLine(link), "wine \"" + second + "\"");
    EXPECT_EQ(ModeOf(link), 0755u);
#endif
}

TEST_F(ShellLinkTest, MissingFolderIsPathNotFound) {
    const std::string target = Target("app.exe");
    const std::string folder = dir / "없는 폴더";

    EXPECT_EQ(plat::CreateShortcut(plat::JoinPath(folder, LinkName("app")), target, "-x"), -3);
    EXPECT_EQ(plat::LastErrorCode(), plat::kErrPathNotFound);
    EXPECT_FALSE(kstest::Exists(folder));
}

TEST_F(ShellLinkTest, ReadOnlyShortcutIsKept) {
    const std::string kept = Target("kept.exe");
    const std::string link = dir / LinkName("읽기 전용");
    ASSERT_EQ(plat::CreateShortcut(link, kept, ""), 0);
    const std::string bytes = kstest::ReadFileBytes(link);
    ASSERT_TRUE(plat::SetReadOnly(link, true));

    EXPECT_EQ(plat::CreateShortcut(link, Target("other.exe"), "--new"), -3);
    EXPECT_EQ(plat::LastErrorCode(), plat::kErrAccessDenied);
    EXPECT_EQ(kstest::ReadFileBytes(link), bytes);
    EXPECT_EQ(plat::ReadShortcutTarget(link), kept);
    EXPECT_EQ(Entries(dir.Path()),
              (std::vector<std::string>{"kept.exe", "other.exe", LinkName("읽기 전용")}));
}

TEST_F(ShellLinkTest, FolderInThePlaceOfTheShortcutIsAccessDenied) {
    const std::string link = dir / LinkName("folder");
    ASSERT_TRUE(plat::CreateFolder(link));

    EXPECT_EQ(plat::CreateShortcut(link, Target("app.exe"), ""), -3);
    EXPECT_EQ(plat::LastErrorCode(), plat::kErrAccessDenied);
    EXPECT_EQ(Entries(dir.Path()), (std::vector<std::string>{"app.exe", LinkName("folder")}));
}

TEST_F(ShellLinkTest, OtherFilesHaveNoTarget) {
    EXPECT_EQ(plat::ReadShortcutTarget(dir / LinkName("missing")), "");
    const std::string text = dir / LinkName("text");
    ASSERT_TRUE(kstest::WriteFileBytes(text, "Exec=/usr/bin/true\nnot a shortcut\n"));
    EXPECT_EQ(plat::ReadShortcutTarget(text), "");
}

#ifdef _WIN32

// The shell object needs an apartment; CreateShortcut joins one for its own work and leaves
// the thread as it found it, whether it had none or was in the multithreaded one.
TEST_F(ShellLinkTest, ThreadApartmentIsLeftAsFound) {
    const std::string target = Target("app.exe");
    const std::string link = dir / LinkName("thread");
    int nFresh = 1;
    std::string freshTarget;
    HRESULT hrAfterFresh = E_FAIL;
    std::thread([&] {
        nFresh = plat::CreateShortcut(link, target, "");
        freshTarget = plat::ReadShortcutTarget(link);
        hrAfterFresh = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        if (SUCCEEDED(hrAfterFresh))
            ::CoUninitialize();
    }).join();
    EXPECT_EQ(nFresh, 0);
    EXPECT_EQ(freshTarget, target);
    EXPECT_EQ(hrAfterFresh, S_OK) << "an apartment was left joined";

    int nInMta = 1;
    std::string mtaTarget;
    HRESULT hrAfterMta = E_FAIL;
    std::thread([&] {
        if (FAILED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED)))
            return;
        nInMta = plat::CreateShortcut(link, target, "--mta");
        mtaTarget = plat::ReadShortcutTarget(link);
        hrAfterMta = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        if (SUCCEEDED(hrAfterMta))
            ::CoUninitialize();
        ::CoUninitialize();
    }).join();
    EXPECT_EQ(nInMta, 0);
    EXPECT_EQ(mtaTarget, target);
    EXPECT_EQ(hrAfterMta, S_FALSE) << "the multithreaded apartment was left";
}

#else

TEST_F(ShellLinkTest, DesktopEntryText) {
    const std::string target = Target("Kestrel Sync.sh", "#!/bin/sh\n");
    const std::string link = dir / LinkName("KestrelSync 바로가기");

    ASSERT_EQ(plat::CreateShortcut(link, target, "--silent"), 0);
    const std::string head = "[Desktop Entry]\nType=Application\nName=KestrelSync 바로가기\n";
    const std::string tail = "\" --silent\nTerminal=false\n";
    EXPECT_EQ(kstest::ReadFileBytes(link), head + "Exec=\"" + target + tail);
    EXPECT_EQ(ModeOf(link), 0755u);
}

TEST_F(ShellLinkTest, ExecQuoting) {
    struct Case {
        std::string target;
        std::string exec;
    } const cases[] = {
        {"/opt/KestrelSync/run", "/opt/KestrelSync/run"},
        {"/opt/Kestrel Sync/run", R"("/opt/Kestrel Sync/run")"},
        {"/opt/업데이트/run", "/opt/업데이트/run"},
        {R"(/opt/say "hi"/run)", R"("/opt/say \\"hi\\"/run")"},
        {"/opt/$HOME/run", R"("/opt/\\$HOME/run")"},
        {R"(/opt/a\b/run)", R"("/opt/a\\\\b/run")"},
        {"/opt/`id`/run", R"("/opt/\\`id\\`/run")"},
        {"/opt/it's/run", R"("/opt/it's/run")"},
        {"/opt/tab\there/run", R"("/opt/tab\there/run")"},
        {"/opt/100%/run", "/opt/100%%/run"},
    };
    for (const Case& c : cases) {
        const std::string link = dir / LinkName("quoting");
        ASSERT_EQ(plat::CreateShortcut(link, c.target, ""), 0) << c.target;
        EXPECT_EQ(ExecLine(link), c.exec) << c.target;
        EXPECT_EQ(plat::ReadShortcutTarget(link), c.target);
    }
}

TEST_F(ShellLinkTest, WindowsProgramsStartThroughWine) {
    struct Case {
        const char* name;
        std::string bytes;
        bool bWine;
    } const cases[] = {
        {"setup.exe", std::string("MZ\x90\0", 4), true},
        {"start.sh", "#!/bin/sh\n", false},
        {"short.bin", "M", false},
        {"empty.bin", "", false},
    };
    for (const Case& c : cases) {
        const std::string target = Target(c.name, c.bytes);
        const std::string link = dir / LinkName(c.name);
        ASSERT_EQ(plat::CreateShortcut(link, target, ""), 0) << c.name;
        EXPECT_EQ(ExecLine(link), (c.bWine ? "wine " : "") + target) << c.name;
        EXPECT_EQ(plat::ReadShortcutTarget(link), target) << c.name;
    }
    const std::string missing = dir / "missing.exe";
    ASSERT_EQ(plat::CreateShortcut(dir / LinkName("missing"), missing, ""), 0);
    EXPECT_EQ(ExecLine(dir / LinkName("missing")), missing);
}

#endif

} // namespace
