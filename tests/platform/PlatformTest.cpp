// The platform layer's results, checked by the same cases on Windows (under Wine) and POSIX.
#include "platform/FileSystem.h"
#include "platform/FolderAccess.h"
#include "platform/InstanceLock.h"
#include "platform/LargeBuffer.h"
#include "platform/LocalTime.h"
#include "platform/Path.h"
#include "platform/Process.h"
#include "platform/Text.h"
#include "platform/Thread.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <ctime>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <windows.h>

#include <aclapi.h>
#include <sddl.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

using kstest::TempDir;

// ---- Text ----------------------------------------------------------------------------------

struct Utf16Case {
    const char* name;
    std::string utf8;
    std::u16string utf16;
};

TEST(Text, Utf8AndUtf16RoundTrip) {
    const Utf16Case cases[] = {
        {"empty", "", u""},
        {"ascii", "KestrelSync.exe", u"KestrelSync.exe"},
        {"korean", "다운로드 장애시", u"다운로드 장애시"},
        {"two-byte", "\xC3\xA9t\xC3\xA9", u"\u00E9t\u00E9"},
        {"surrogate pair", "\xF0\x9F\x98\x80", u"\xD83D\xDE00"},
        {"embedded nul", std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
    };
    for (const Utf16Case& c : cases) {
        EXPECT_EQ(plat::Utf8ToUtf16(c.utf8), c.utf16) << c.name;
        EXPECT_EQ(plat::Utf16ToUtf8(c.utf16), c.utf8) << c.name;
    }
}

TEST(Text, InvalidInputBecomesReplacementCharacter) {
    EXPECT_EQ(plat::Utf8ToUtf16("a\xFF"
                                "b"),
              u"a\uFFFDb");
    EXPECT_EQ(plat::Utf8ToUtf16("\x80"), u"\uFFFD");
    EXPECT_EQ(plat::Utf8ToUtf16("x\xED\xA0\x80"
                                "y")
                  .front(),
              u'x');
    EXPECT_EQ(plat::Utf16ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
    EXPECT_EQ(plat::Utf16ToUtf8(u"a" + std::u16string(1, char16_t(0xDC00)) + u"b"), "a\xEF\xBF\xBD"
                                                                                    "b");
}

TEST(Text, AnsiCodePageConversion) {
    const std::string korean = "바탕화면에 링크 생성 성공";
    if (plat::AnsiCodePage() == 949) {
        EXPECT_EQ(plat::Utf8ToAnsi("한글"), "\xC7\xD1\xB1\xDB");
        EXPECT_EQ(plat::AnsiToUtf8("\xC7\xD1\xB1\xDB"), "한글");
        EXPECT_EQ(plat::Utf8ToAnsi("abc"), "abc");
    } else if (plat::AnsiCodePage() == 65001) {
        EXPECT_EQ(plat::Utf8ToAnsi(korean), korean);
        EXPECT_EQ(plat::AnsiToUtf8(korean), korean);
    } else {
        GTEST_SKIP() << "ANSI code page " << plat::AnsiCodePage()
                     << " has no Korean; run with LC_ALL=ko_KR.UTF-8 under Wine";
    }
    EXPECT_EQ(plat::AnsiToUtf8(plat::Utf8ToAnsi(korean)), korean);
}

TEST(Text, Utf8FitLengthNeverSplitsACharacter) {
    const std::string ga = "\xEA\xB0\x80"; // one three-byte character
    struct Case {
        std::string text;
        std::size_t max;
        std::size_t expected;
    } const cases[] = {
        {"abcdef", 10, 6},
        {"abcdef", 3, 3},
        {"abcdef", 0, 0},
        {ga + ga, 6, 6},
        {ga + ga, 5, 3},
        {ga + ga, 4, 3},
        {ga + ga, 3, 3},
        {ga + ga, 2, 0},
        {"a" + ga, 1, 1},
        {"a" + ga, 2, 1},
        {"\xF0\x9F\x98\x80", 3, 0},
        {"\x80\x80\x80\x80\x80", 2, 2},
    };
    for (const Case& c : cases)
        EXPECT_EQ(plat::Utf8FitLength(c.text, c.max), c.expected) << c.text << " / " << c.max;
}

TEST(Text, Utf8CharCount) {
    EXPECT_EQ(plat::Utf8CharCount(""), 0u);
    EXPECT_EQ(plat::Utf8CharCount("abc"), 3u);
    EXPECT_EQ(plat::Utf8CharCount("다운로드"), 4u);
    EXPECT_EQ(plat::Utf8CharCount("\xF0\x9F\x98\x80!"), 2u);
    EXPECT_EQ(plat::Utf8CharCount("\xFF\xFE"), 2u);
}

// ---- Paths ---------------------------------------------------------------------------------

TEST(Path, JoinAndLastSeparator) {
    const std::string sep(1, plat::kPathSep);
    EXPECT_EQ(plat::JoinPath("a", "b"), "a" + sep + "b");
    EXPECT_EQ(plat::JoinPath("a" + sep, "b"), "a" + sep + "b");
    EXPECT_EQ(plat::JoinPath("", "b"), "b");
    EXPECT_EQ(plat::LastSepPos("a" + sep + "b" + sep + "c"), 3u);
    EXPECT_EQ(plat::LastSepPos("abc"), std::string::npos);
    EXPECT_EQ(plat::LastSepPos("a/b"), 1u); // "/" separates on both platforms
#ifdef _WIN32
    EXPECT_EQ(plat::LastSepPos("C:\\App/x\\y.exe"), 8u);
#endif
}

TEST(Path, OneFileSpelledTwoWaysHasOneKey) {
    const struct {
        const char* a;
        const char* b;
        bool bSame;
    } cases[] = {
        {"/app/same.txt", "/app/./same.txt", true},
        {"/app/same.txt", "/app//bin/../same.txt", true},
        {"/app/same.txt", "/app/bin/same.txt", false},
        {"/../app/a", "/app/a", true}, // nothing above the root
        {"/app/Same.txt", "/app/same.txt", plat::kDrivePaths},
#ifdef _WIN32
        {"C:\\App\\a.txt", "c:/app/A.TXT", true},
        {"C:\\a.txt", "D:\\a.txt", false},
#endif
    };
    for (const auto& c : cases) {
        std::string a = c.a;
        std::string b = c.b;
        for (std::string* path : {&a, &b}) {
            for (char& ch : *path) {
                if (ch == '/')
                    ch = plat::kPathSep;
            }
        }
        EXPECT_EQ(plat::PathKey(a) == plat::PathKey(b), c.bSame) << c.a << " " << c.b;
    }
}

// ---- File system ---------------------------------------------------------------------------

// True when the file opens in that mode; the stream is closed again.
bool Opens(const std::string& path, const char* mode) {
    std::FILE* fp = plat::OpenFile(path, mode);
    if (fp == nullptr)
        return false;
    std::fclose(fp);
    return true;
}

class FileSystemTest : public ::testing::Test {
protected:
    TempDir dir;
    std::string File(const std::string& name, const std::string& bytes = "data") {
        const std::string path = dir / name;
        EXPECT_TRUE(kstest::WriteFileBytes(path, bytes)) << path;
        return path;
    }
};

TEST_F(FileSystemTest, StatusOfFileAndFolder) {
    const std::string path = File("a.bin", std::string(1234, 'x'));
    ASSERT_TRUE(plat::SetFileModifyTime(path, 1765000000));
    plat::FileStatus st;
    ASSERT_TRUE(plat::GetFileStatus(path, st));
    EXPECT_EQ(st.nSize, 1234u);
    EXPECT_EQ(st.tModify, 1765000000);
    EXPECT_FALSE(st.bReadOnly);
    EXPECT_FALSE(st.bFolder);

    ASSERT_TRUE(plat::SetReadOnly(path, true));
    ASSERT_TRUE(plat::GetFileStatus(path, st));
    EXPECT_TRUE(st.bReadOnly);
    ASSERT_TRUE(plat::SetReadOnly(path, false));
    ASSERT_TRUE(plat::GetFileStatus(path, st));
    EXPECT_FALSE(st.bReadOnly);

    ASSERT_TRUE(plat::GetFileStatus(dir.Path(), st));
    EXPECT_TRUE(st.bFolder);
}

TEST_F(FileSystemTest, KoreanFileNames) {
    const std::string path = File("다운로드 장애시.txt", "abc");
    plat::FileStatus st;
    ASSERT_TRUE(plat::GetFileStatus(path, st));
    EXPECT_EQ(st.nSize, 3u);
    std::vector<plat::FoundFile> found;
    ASSERT_TRUE(plat::FindFiles(dir / "*.txt", found));
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].strName, "다운로드 장애시.txt");
    EXPECT_EQ(found[0].strPath, path);
}

TEST_F(FileSystemTest, MissingFileAndMissingFolderCodes) {
    plat::FileStatus st;
    EXPECT_FALSE(plat::GetFileStatus(dir / "none.txt", st));
    EXPECT_EQ(plat::LastErrorCode(), plat::kErrFileNotFound);
    EXPECT_FALSE(plat::GetFileStatus(plat::JoinPath(dir / "nodir", "none.txt"), st));
    EXPECT_EQ(plat::LastErrorCode(), plat::kErrPathNotFound);

    EXPECT_FALSE(Opens(dir / "none.txt", "r"));
    EXPECT_EQ(plat::LastErrorCode(), plat::kErrFileNotFound);
    EXPECT_FALSE(Opens(plat::JoinPath(dir / "nodir", "x.log"), "a"));
    EXPECT_EQ(plat::LastErrorCode(), plat::kErrPathNotFound);

    EXPECT_FALSE(plat::RemoveFile(dir / "none.txt"));
    EXPECT_EQ(plat::LastErrorCode(), plat::kErrFileNotFound);

    // The flushes of many files: all of them there, or the missing one named.
    const std::vector<std::string> there{File("a.bin"), File("b.bin")};
    const std::vector<std::string> gone{there[0], dir / "none.txt"};
    EXPECT_TRUE(plat::StartWriteBackFiles(there));
    EXPECT_TRUE(plat::FlushFilesToDisk(there));
    EXPECT_FALSE(plat::StartWriteBackFiles(gone));
    EXPECT_EQ(plat::LastErrorCode(), plat::kErrFileNotFound);
    EXPECT_FALSE(plat::FlushFilesToDisk(gone));
    EXPECT_EQ(plat::LastErrorCode(), plat::kErrFileNotFound);
}

TEST_F(FileSystemTest, CreateAndRemoveFolder) {
    const std::string sub = dir / "sub";
    ASSERT_TRUE(plat::CreateFolder(sub));
    EXPECT_FALSE(plat::CreateFolder(sub));
    EXPECT_EQ(plat::LastErrorCode(), plat::kErrAlreadyExists);
    EXPECT_FALSE(plat::CreateFolder(plat::JoinPath(dir / "nodir", "x")));
    EXPECT_EQ(plat::LastErrorCode(), plat::kErrPathNotFound);

    File(plat::JoinPath("sub", "f.txt"));
    EXPECT_FALSE(plat::RemoveFolder(sub));
    EXPECT_EQ(plat::LastErrorCode(), plat::kErrDirNotEmpty);
    EXPECT_FALSE(plat::RemoveFile(sub)); // a folder is not a file
    EXPECT_EQ(plat::LastErrorCode(), plat::kErrAccessDenied);
    ASSERT_TRUE(plat::RemoveFile(plat::JoinPath(sub, "f.txt")));
    EXPECT_TRUE(plat::RemoveFolder(sub));
    EXPECT_FALSE(kstest::Exists(sub));
}

TEST_F(FileSystemTest, ReadOnlyFileRefusesWritesAndDeletion) {
    const std::string path = File("ro.txt", "keep");
    ASSERT_TRUE(plat::SetReadOnly(path, true));

    EXPECT_FALSE(plat::RemoveFile(path));
    EXPECT_EQ(plat::LastErrorCode(), plat::kErrAccessDenied);
    for (const char* mode : {"a", "wb", "r+b"}) {
        EXPECT_FALSE(Opens(path, mode)) << mode;
        EXPECT_EQ(plat::LastErrorCode(), plat::kErrAccessDenied) << mode;
    }
    EXPECT_FALSE(plat::CopyFileOver(File("src.txt", "new"), path));
    EXPECT_EQ(plat::LastErrorCode(), plat::kErrAccessDenied);
    EXPECT_EQ(kstest::ReadFileBytes(path), "keep");

    EXPECT_TRUE(Opens(path, "rb"));
    ASSERT_TRUE(plat::SetReadOnly(path, false));
    EXPECT_TRUE(plat::RemoveFile(path));
}

// The moves of files that only this program uses give the results of the others.
TEST_F(FileSystemTest, RenameNeverReplacesAndReplaceDoes) {
    using Move = bool (*)(const std::string&, const std::string&);
    const struct {
        const char* name;
        Move move;
        bool bReplaces;
    } moves[] = {
        {"RenameFile", plat::RenameFile, false},
        {"RenameOwnFile", plat::RenameOwnFile, false},
        {"ReplaceFileWith", plat::ReplaceFileWith, true},
        {"ReplaceOwnFile", plat::ReplaceOwnFile, true},
    };
    for (const auto& m : moves) {
        const std::string a = File("a.txt", "A");
        const std::string b = File("b.txt", "B");
        EXPECT_EQ(m.move(a, b), m.bReplaces) << m.name;
        if (!m.bReplaces) {
            EXPECT_EQ(plat::LastErrorCode(), plat::kErrAlreadyExists) << m.name;
        }
        EXPECT_EQ(kstest::ReadFileBytes(b), m.bReplaces ? "A" : "B") << m.name;
        EXPECT_FALSE(m.move(dir / "none", dir / "c.txt")) << m.name;
        EXPECT_EQ(plat::LastErrorCode(), plat::kErrFileNotFound) << m.name;
        EXPECT_FALSE(m.move(File("d.txt", "D"), plat::JoinPath(dir / "no-folder", "d.txt")))
            << m.name;
        EXPECT_EQ(plat::LastErrorCode(), plat::kErrPathNotFound) << m.name;

        const std::string from = m.bReplaces ? dir / "b.txt" : a;
        ASSERT_TRUE(m.move(from, dir / "c.txt")) << m.name;
        EXPECT_FALSE(kstest::Exists(from)) << m.name;
        EXPECT_EQ(kstest::ReadFileBytes(dir / "c.txt"), "A") << m.name;
        for (const char* name : {"a.txt", "b.txt", "c.txt", "d.txt"})
            plat::RemoveLeftOverFile(dir / name);
    }
}

#ifdef _WIN32
std::wstring WidePath(const std::string& path) {
    const std::u16string utf16 = plat::Utf8ToUtf16(path);
    return std::wstring(utf16.begin(), utf16.end());
}

// Rights that let a group change what a folder holds.
constexpr DWORD kWriteRights =
    FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_DELETE_CHILD | DELETE | WRITE_DAC | WRITE_OWNER;

// The rights that the folder's access list allows a well-known group, as the system reports
// them (Wine reports its own mapping of the Unix mode bits where it keeps no access lists).
DWORD AllowedTo(const std::string& folder, WELL_KNOWN_SID_TYPE group) {
    const std::wstring wide = WidePath(folder);
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetNamedSecurityInfoW(wide.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS)
        return 0;
    BYTE sid[SECURITY_MAX_SID_SIZE];
    DWORD nSid = sizeof sid;
    ACL_SIZE_INFORMATION info{};
    DWORD mask = 0;
    if (dacl != nullptr && ::CreateWellKnownSid(group, nullptr, sid, &nSid) &&
        ::GetAclInformation(dacl, &info, sizeof info, AclSizeInformation)) {
        for (DWORD i = 0; i < info.AceCount; ++i) {
            void* ace = nullptr;
            if (::GetAce(dacl, i, &ace) &&
                static_cast<ACE_HEADER*>(ace)->AceType == ACCESS_ALLOWED_ACE_TYPE &&
                ::EqualSid(&static_cast<ACCESS_ALLOWED_ACE*>(ace)->SidStart, sid))
                mask |= static_cast<ACCESS_ALLOWED_ACE*>(ace)->Mask;
        }
    }
    ::LocalFree(descriptor);
    return mask;
}

// Everyone may do everything in the folder.
bool OpenToEveryone(const std::string& folder) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(
            L"D:(A;OICI;FA;;;WD)", SDDL_REVISION_1, &descriptor, nullptr))
        return false;
    BOOL bPresent = FALSE;
    BOOL bDefaulted = FALSE;
    PACL dacl = nullptr;
    ::GetSecurityDescriptorDacl(descriptor, &bPresent, &dacl, &bDefaulted);
    std::wstring wide = WidePath(folder);
    const DWORD r = ::SetNamedSecurityInfoW(wide.data(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                            nullptr, nullptr, dacl, nullptr);
    ::LocalFree(descriptor);
    return r == ERROR_SUCCESS;
}
#endif

// A folder that everyone could write is made one that only the administrators and the system
// may write: the rights the platform reports afterwards.
TEST_F(FileSystemTest, FolderWritableByAdministratorsAndTheSystemOnly) {
    const std::string folder = dir / "staging";
    ASSERT_TRUE(plat::CreateFolder(folder));
    EXPECT_FALSE(plat::RestrictFolderWriters(dir / "missing"));
#ifdef _WIN32
    ASSERT_TRUE(OpenToEveryone(folder));
    ASSERT_NE(AllowedTo(folder, WinWorldSid) & kWriteRights, 0u);
    ASSERT_TRUE(plat::RestrictFolderWriters(folder)) << plat::LastErrorCode();
    for (const WELL_KNOWN_SID_TYPE group :
         {WinWorldSid, WinBuiltinUsersSid, WinAuthenticatedUserSid, WinInteractiveSid})
        EXPECT_EQ(AllowedTo(folder, group) & kWriteRights, 0u) << group;
    EXPECT_EQ(AllowedTo(folder, WinLocalSystemSid) & FILE_ALL_ACCESS,
              static_cast<DWORD>(FILE_ALL_ACCESS));
#else
    ASSERT_EQ(::chmod(folder.c_str(), 0777), 0);
    ASSERT_TRUE(plat::RestrictFolderWriters(folder)) << plat::LastErrorCode();
    struct stat st {};
    ASSERT_EQ(::stat(folder.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0755u);
    EXPECT_EQ(st.st_uid, ::geteuid());
    // A link to a folder is refused, and the folder behind it stays as it was.
    const std::string link = dir / "link";
    ASSERT_EQ(::symlink(folder.c_str(), link.c_str()), 0);
    ASSERT_EQ(::chmod(folder.c_str(), 0777), 0);
    EXPECT_FALSE(plat::RestrictFolderWriters(link));
    ASSERT_EQ(::stat(folder.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0777u);
#endif
}

TEST_F(FileSystemTest, CopyReplacesAndKeepsTimeAndAttributes) {
    const std::string src = File("src.bin", "new contents");
    const std::string dst = File("dst.bin", "old contents that are longer");
    ASSERT_TRUE(plat::SetFileModifyTime(src, 1700000000));
    ASSERT_TRUE(plat::CopyFileOver(src, dst));
    EXPECT_EQ(kstest::ReadFileBytes(dst), "new contents");
    plat::FileStatus st;
    ASSERT_TRUE(plat::GetFileStatus(dst, st));
    EXPECT_EQ(st.tModify, 1700000000);

    ASSERT_TRUE(plat::SetReadOnly(src, true));
    ASSERT_TRUE(plat::CopyFileOver(src, dir / "fresh.bin"));
    ASSERT_TRUE(plat::GetFileStatus(dir / "fresh.bin", st));
    EXPECT_TRUE(st.bReadOnly);

    EXPECT_FALSE(plat::CopyFileOver(dir / "none.bin", dir / "x.bin"));
    EXPECT_EQ(plat::LastErrorCode(), plat::kErrFileNotFound);
    EXPECT_FALSE(kstest::Exists(dir / "x.bin"));
    EXPECT_FALSE(plat::CopyFileOver(src, plat::JoinPath(dir / "nodir", "x.bin")));
    EXPECT_EQ(plat::LastErrorCode(), plat::kErrPathNotFound);
}

TEST_F(FileSystemTest, CopyOntoItselfKeepsTheFile) {
    const std::string path = File("self.bin", "precious");
    EXPECT_FALSE(plat::CopyFileOver(path, path));
    EXPECT_EQ(kstest::ReadFileBytes(path), "precious");
}

TEST_F(FileSystemTest, FindFilesByWildcard) {
    for (const char* name : {"P_20261127.log", "P_20261127.log.bak", "P_202611270.log",
                             "p_20261128.LOG", "Q_20261127.log", "P_20261127.txt"})
        File(name);
    ASSERT_TRUE(plat::CreateFolder(dir / "P_20261129.log.d"));

    std::vector<plat::FoundFile> found;
    ASSERT_TRUE(plat::FindFiles(dir / "P_????????.log*", found));
    std::vector<std::string> names;
    for (const plat::FoundFile& f : found) {
        names.push_back(f.strName);
        EXPECT_EQ(f.strPath, dir / f.strName);
        EXPECT_EQ(f.bFolder, f.strName == "P_20261129.log.d") << f.strName;
    }
    EXPECT_EQ(names, (std::vector<std::string>{"P_20261127.log", "P_20261127.log.bak",
                                               "P_20261129.log.d", "p_20261128.LOG"}));

    found.clear();
    EXPECT_FALSE(plat::FindFiles(dir / "Z*", found));
    EXPECT_EQ(plat::LastErrorCode(), plat::kErrFileNotFound);
    EXPECT_FALSE(plat::FindFiles(plat::JoinPath(dir / "nodir", "*"), found));
    EXPECT_EQ(plat::LastErrorCode(), plat::kErrPathNotFound);
    EXPECT_TRUE(found.empty());
}

// A file read whole into a buffer that a thread keeps: what fits is read straight in, a file
// longer than the room given is refused, and the buffer grows only when asked for more.
TEST_F(FileSystemTest, ReadIntoLargeBuffer) {
    struct Case {
        const char* name;
        std::size_t nSize; // bytes in the file
        std::size_t nMax;  // room given
        bool bRead;
    };
    const Case cases[] = {
        {"empty", 0, 16, true},
        {"smaller than the room", 100, 4096, true},
        {"exactly the room", 3u << 20, 3u << 20, true},
        {"one byte past the room", 4097, 4096, false},
    };
    plat::CLargeBuffer buffer;
    for (const Case& c : cases) {
        std::string bytes(c.nSize, '\0');
        for (std::size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = static_cast<char>(i * 7 + i / 4096);
        const std::string path = File(std::string(c.name) + ".bin", bytes);
        ASSERT_TRUE(buffer.Reserve(c.nMax)) << c.name;
        ASSERT_GE(buffer.Capacity(), c.nMax) << c.name;
        std::size_t nRead = 0;
        EXPECT_EQ(plat::ReadFileInto(path, buffer.Data(), c.nMax, nRead), c.bRead) << c.name;
        if (c.bRead) {
            EXPECT_EQ(std::string(buffer.Data(), nRead), bytes) << c.name;
        }
    }
    std::size_t nRead = 0;
    EXPECT_FALSE(plat::ReadFileInto(dir / "missing.bin", buffer.Data(), 16, nRead));
    EXPECT_EQ(plat::LastErrorCode(), plat::kErrFileNotFound);
    // Room already there is kept; more room replaces the memory.
    const char* pKept = buffer.Data();
    ASSERT_TRUE(buffer.Reserve(1));
    EXPECT_EQ(buffer.Data(), pKept);
    ASSERT_TRUE(buffer.Reserve(buffer.Capacity() + 1));
    buffer.Data()[buffer.Capacity() - 1] = 'z';
    buffer.Release();
    EXPECT_EQ(buffer.Data(), nullptr);
    EXPECT_EQ(buffer.Capacity(), 0u);
}

TEST(ErrorText, SystemTextsForKnownCodes) {
    std::string notFound;
    std::string denied;
    ASSERT_TRUE(plat::SystemErrorText(plat::kErrFileNotFound, notFound));
    ASSERT_TRUE(plat::SystemErrorText(plat::kErrAccessDenied, denied));
    EXPECT_FALSE(notFound.empty());
    EXPECT_NE(notFound, denied);
    for (const std::string& text : {notFound, denied}) {
        EXPECT_NE(text.back(), '\n') << text;
        EXPECT_NE(text.back(), '\r') << text;
    }
    std::string none;
    EXPECT_FALSE(plat::SystemErrorText(0x01234567, none));
    EXPECT_NE(plat::LastErrorCode(), 0);
}

TEST(ErrorText, LastErrorIsPerThreadAndSettable) {
    plat::SetLastErrorCode(plat::kErrSharingViolation);
    EXPECT_EQ(plat::LastErrorCode(), plat::kErrSharingViolation);
    plat::SetLastErrorCode(0);
    EXPECT_EQ(plat::LastErrorCode(), 0);
}

TEST(ProcessInfo, ModulePathAndCurrentFolder) {
    const std::string module = plat::GetModulePath();
    ASSERT_FALSE(module.empty());
    plat::FileStatus st;
    ASSERT_TRUE(plat::GetFileStatus(module, st));
    EXPECT_FALSE(st.bFolder);
    EXPECT_NE(kstest::TestExecutableName().find("ks_tests"), std::string::npos);

    const std::string cwd = plat::GetCurrentFolder();
    ASSERT_TRUE(plat::GetFileStatus(cwd, st));
    EXPECT_TRUE(st.bFolder);
}

// ---- Local time ----------------------------------------------------------------------------

TEST(LocalTime, RoundTripThroughEpoch) {
    const plat::LocalTime samples[] = {
        {2026, 12, 7, 9, 5, 3, 0},  {2026, 11, 27, 0, 0, 0, 0}, {2000, 2, 29, 23, 59, 59, 0},
        {2038, 1, 19, 12, 0, 0, 0}, {2100, 6, 30, 6, 30, 0, 0},
    };
    for (const plat::LocalTime& in : samples) {
        std::int64_t t = 0;
        ASSERT_TRUE(plat::EpochFromLocalTime(in, t)) << in.nYear;
        plat::LocalTime out;
        ASSERT_TRUE(plat::LocalTimeFromEpoch(t, out));
        EXPECT_EQ(out.nYear, in.nYear);
        EXPECT_EQ(out.nMonth, in.nMonth);
        EXPECT_EQ(out.nDay, in.nDay);
        EXPECT_EQ(out.nHour, in.nHour);
        EXPECT_EQ(out.nMinute, in.nMinute);
        EXPECT_EQ(out.nSecond, in.nSecond);
    }
}

TEST(LocalTime, NormalisesOutOfRangeFieldsAndCountsDays) {
    std::int64_t nov31 = 0;
    std::int64_t dec1 = 0;
    ASSERT_TRUE(plat::EpochFromLocalTime({2026, 11, 31, 12, 0, 0, 0}, nov31));
    ASSERT_TRUE(plat::EpochFromLocalTime({2026, 12, 1, 12, 0, 0, 0}, dec1));
    EXPECT_EQ(nov31, dec1);

    std::int64_t dec7 = 0;
    ASSERT_TRUE(plat::EpochFromLocalTime({2026, 12, 7, 12, 0, 0, 0}, dec7));
    plat::LocalTime back;
    ASSERT_TRUE(plat::LocalTimeFromEpoch(dec7 - 10 * 86400, back));
    EXPECT_EQ(back.nMonth, 11);
    EXPECT_EQ(back.nDay, 27);
}

TEST(LocalTime, NowAgreesWithTheClock) {
    const std::int64_t before = static_cast<std::int64_t>(std::time(nullptr));
    const plat::LocalTime now = plat::GetLocalNow();
    std::int64_t t = 0;
    ASSERT_TRUE(plat::EpochFromLocalTime(now, t));
    EXPECT_GE(t, before - 1);
    EXPECT_LE(t, before + 5);
    EXPECT_GE(now.nMilli, 0);
    EXPECT_LE(now.nMilli, 999);
}

} // namespace

namespace {

// One holder per program folder: another thread (as another process) is refused until the
// holder gives the lock up; a waiting Acquire then gets it; other folders are free.
TEST(InstanceLock, OneHolderPerProgramFolder) {
    kstest::TempDir a;
    kstest::TempDir b;
    for (const kstest::TempDir* dir : {&a, &b})
        ASSERT_TRUE(plat::CreateFolder(*dir / "config"));
    EXPECT_FALSE(plat::IsInstanceLockHeld(a.Path()));
    std::atomic<int> step{0};
    std::thread holder([&a, &step] {
        plat::CInstanceLock lock;
        EXPECT_TRUE(lock.Acquire(a.Path(), 0));
        step = 1;
        while (step != 2)
            plat::SleepMs(10);
    });
    while (step != 1)
        plat::SleepMs(10);
    EXPECT_TRUE(plat::IsInstanceLockHeld(a.Path()));
    EXPECT_FALSE(plat::IsInstanceLockHeld(b.Path()));
    plat::CInstanceLock mine;
    EXPECT_FALSE(mine.Acquire(a.Path(), 200));
    plat::CInstanceLock other;
    EXPECT_TRUE(other.Acquire(b.Path(), 0));
    std::thread release([&step] {
        plat::SleepMs(300);
        step = 2;
    });
    EXPECT_TRUE(mine.Acquire(a.Path(), 10000));
    release.join();
    holder.join();
}

} // namespace
