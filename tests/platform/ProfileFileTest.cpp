// Settings files: one table of INI cases that Windows (the system's profile-string functions,
// under Wine) and the POSIX reader and writer must answer alike.
#include "platform/ProfileFile.h"
#include "platform/FileSystem.h"
#include "platform/Path.h"
#include "platform/Text.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

using kstest::TempDir;

constexpr std::size_t kValueBuffer = 128; // the program's buffer for one value

// Shows control bytes and line ends, so that a failing case names the bytes it met.
std::string Visible(const std::string& bytes) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c < 0x20 || c >= 0x7F) {
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 15];
        } else {
            out += ch;
        }
    }
    return out;
}

// ---- Reading --------------------------------------------------------------------------------

struct ReadCase {
    const char* name;
    std::string file;
    std::string section;
    std::string key;
    std::string def;
    std::string expected;
    std::size_t maxBytes = kValueBuffer;
};

const std::string kSec = "[Sec]\r\n";
const std::string kLong(200, 'x');

const ReadCase kReadCases[] = {
    // Names
    {"section and key without case", kSec + "Key=Val\r\n", "sEC", "kEY", "d", "Val"},
    {"blanks around key and value", kSec + "  Key \t=\t Val  \r\n", "Sec", "Key", "d", "Val"},
    {"blanks around the section name", "  [ Sec ]  \r\nKey=Val\r\n", "Sec", "Key", "d", "Val"},
    {"tabs inside the brackets", "[\tSec\t]\r\nKey=Val\r\n", "Sec", "Key", "d", "Val"},
    {"blanks around the names asked for", kSec + "Key=Val\r\n", " Sec\t", "\tKey ", "d", "Val"},
    {"blank inside a key name", kSec + "K ey=b\r\n", "Sec", "K ey", "d", "b"},
    {"key name is no prefix", kSec + "KeyX=1\r\n", "Sec", "Key", "d", "d"},
    {"key asked for is no prefix", kSec + "Ke=1\r\n", "Sec", "Key", "d", "d"},
    {"section name is no prefix", "[SecX]\r\nKey=1\r\n", "Sec", "Key", "d", "d"},

    // Values
    {"blanks inside the value kept", kSec + "Key=a \t b\r\n", "Sec", "Key", "d", "a \t b"},
    {"value split at the first =", kSec + "Key=a=b\r\n", "Sec", "Key", "d", "a=b"},
    {"value starting with =", kSec + "Key==b\r\n", "Sec", "Key", "d", "=b"},
    {"semicolon after a value is text", kSec + "Key=1 ;c\r\n", "Sec", "Key", "d", "1 ;c"},
    {"empty value", kSec + "Key=\r\n", "Sec", "Key", "d", ""},
    {"value of blanks", kSec + "Key=  \t \r\n", "Sec", "Key", "d", ""},
    {"key without =", kSec + "Key\r\n", "Sec", "Key", "d", "d"},
    {"key without = hides a later one", kSec + "Key\r\nKey=1\r\n", "Sec", "Key", "d", "d"},

    // Quotes
    {"double quotes", kSec + "Key=\"x\"\r\n", "Sec", "Key", "d", "x"},
    {"single quotes", kSec + "Key='x'\r\n", "Sec", "Key", "d", "x"},
    {"mismatched quotes", kSec + "Key=\"x'\r\n", "Sec", "Key", "d", "\"x'"},
    {"mismatched quotes the other way", kSec + "Key='x\"\r\n", "Sec", "Key", "d", "'x\""},
    {"opening quote only", kSec + "Key=\"x\r\n", "Sec", "Key", "d", "\"x"},
    {"closing quote only", kSec + "Key=x\"\r\n", "Sec", "Key", "d", "x\""},
    {"blanks inside quotes kept", kSec + "Key=\" x \"\r\n", "Sec", "Key", "d", " x "},
    {"blanks outside quotes dropped", kSec + "Key= \"x\" \r\n", "Sec", "Key", "d", "x"},
    {"empty quotes", kSec + "Key=\"\"\r\n", "Sec", "Key", "d", ""},
    {"empty single quotes", kSec + "Key=''\r\n", "Sec", "Key", "d", ""},
    {"lone quote", kSec + "Key=\"\r\n", "Sec", "Key", "d", "\""},
    {"three quotes", kSec + "Key=\"\"\"\r\n", "Sec", "Key", "d", "\""},
    {"quote inside quotes", kSec + "Key=\"a\"b\"\r\n", "Sec", "Key", "d", "a\"b"},
    {"text after the closing quote", kSec + "Key=\"x\" ;c\r\n", "Sec", "Key", "d", "\"x\" ;c"},

    // Duplicates
    {"first of duplicate keys", kSec + "Key=1\r\nkey=2\r\n", "Sec", "Key", "d", "1"},
    {"first of duplicate sections only", kSec + "A=1\r\n[sec]\r\nKey=2\r\n", "Sec", "Key", "d",
     "d"},
    {"key in the first of duplicate sections", kSec + "Key=1\r\n[SEC]\r\nKey=2\r\n", "Sec", "Key",
     "d", "1"},

    // Comments: no comment syntax, a comment is a key no one asks for
    {"semicolon line", kSec + ";Key=1\r\nKey=2\r\n", "Sec", "Key", "d", "2"},
    {"semicolon line alone", kSec + ";Key=1\r\n", "Sec", "Key", "d", "d"},
    {"hash line", kSec + "#Key=1\r\n", "Sec", "Key", "d", "d"},
    {"indented semicolon line", kSec + "  ; Key=1\r\nKey=2\r\n", "Sec", "Key", "d", "2"},
    {"comment lines inside a section", kSec + "; note\r\n# note\r\nKey=1\r\n", "Sec", "Key", "d",
     "1"},
    {"semicolon line is a key", kSec + ";Key=1\r\n", "Sec", ";Key", "d", "1"},
    {"comment after a section header", "[Sec] ; note\r\nKey=1\r\n", "Sec", "Key", "d", "1"},

    // Sections
    {"key before any section", "Key=1\r\n[Sec]\r\n", "Sec", "Key", "d", "d"},
    {"key before any section, unnamed section", "Key=1\r\n[Sec]\r\n", "", "Key", "d", "1"},
    {"missing section", kSec + "Key=1\r\n", "Other", "Key", "d", "d"},
    {"missing key", kSec + "Key=1\r\n", "Sec", "Other", "d", "d"},
    {"section without closing bracket", "[Sec\r\nKey=1\r\n", "Sec", "Key", "d", "d"},
    {"unclosed bracket line inside a section", kSec + "[Bad\r\nKey=1\r\n", "Sec", "Key", "d", "1"},
    {"unclosed bracket line with = is a key", kSec + "[Bad=1\r\n", "Sec", "[Bad", "d", "1"},
    {"text after the closing bracket", "[Sec]x\r\nKey=1\r\n", "Sec", "Key", "d", "1"},
    {"name runs to the last bracket", "[Sec]]\r\nKey=1\r\n", "Sec]", "Key", "d", "1"},
    {"name runs to the last bracket, not the first", "[Sec]]\r\nKey=1\r\n", "Sec", "Key", "d", "d"},

    // The default
    {"default as given", kSec, "Sec", "Key", "dflt", "dflt"},
    {"default loses trailing spaces", kSec, "Sec", "Key", "  dflt  ", "  dflt"},
    {"default keeps a trailing tab", kSec, "Sec", "Key", "d\t ", "d\t"},
    {"default of spaces keeps one", kSec, "Sec", "Key", "   ", " "},
    {"default loses quotes", kSec, "Sec", "Key", "\"d\"", "d"},
    {"default loses quotes after spaces", kSec, "Sec", "Key", "'d'  ", "d"},
    {"empty default", kSec, "Sec", "Key", "", ""},
    {"default cut like a value", kSec, "Sec", "Key", kLong, std::string(127, 'x')},

    // Line ends and blank lines
    {"LF line ends", "[Sec]\nKey=1\nB=2\n", "Sec", "B", "d", "2"},
    {"CR line ends", "[Sec]\rKey=1\rB=2\r", "Sec", "B", "d", "2"},
    {"mixed line ends", "[Sec]\nKey=1\r\nB=2\rC=3\n", "Sec", "C", "d", "3"},
    {"no line end at the end", kSec + "Key=1", "Sec", "Key", "d", "1"},
    {"blank lines", "\r\n\r\n[Sec]\r\n\r\n  \t\r\nKey=1\r\n\r\n", "Sec", "Key", "d", "1"},
    {"empty file", "", "Sec", "Key", "d", "d"},

    // Byte-order mark
    {"byte-order mark skipped", "\xEF\xBB\xBF[Sec]\r\nKey=1\r\n", "Sec", "Key", "d", "1"},
    {"byte-order mark before a key", "\xEF\xBB\xBFKey=1\r\n", "", "Key", "d", "1"},
    {"second byte-order mark is text", "\xEF\xBB\xBF\xEF\xBB\xBF[Sec]\r\nKey=1\r\n", "Sec", "Key",
     "d", "d"},
    {"byte-order mark after a blank", " \xEF\xBB\xBF[Sec]\r\nKey=1\r\n", "Sec", "Key", "d", "d"},
    {"byte-order mark inside the file", kSec + "A=1\r\n\xEF\xBB\xBF[Two]\r\nB=2\r\n", "Two", "B",
     "d", "d"},

    // Garbage
    {"control bytes in a value", kSec + "Key=\x01\x02\x7F\r\n", "Sec", "Key", "d", "\x01\x02\x7F"},
    {"NUL ends a value", kSec + std::string("Key=a\0b\r\nC=2\r\n", 14), "Sec", "Key", "d", "a"},
    {"line after a NUL", kSec + std::string("Key=a\0b\r\nC=2\r\n", 14), "Sec", "C", "d", "2"},
    {"NUL ends a key name", kSec + std::string("K\0ey=1\r\n", 8), "Sec", "K", "d", "1"},
    {"end-of-file mark is a blank", kSec + "Key=a\x1A\r\n\x1A", "Sec", "Key", "d", "a"},
    {"end-of-file mark inside a value",
     kSec + "Key=a\x1A"
            "b\r\n",
     "Sec", "Key", "d",
     "a\x1A"
     "b"},
    {"garbage lines around keys",
     "\x01\x02 garbage\r\n[Sec]\r\n\x7F\x7F\x05\r\n]]]\r\n=\r\nKey=1\r\n\x04\x04=\x03\r\n", "Sec",
     "Key", "d", "1"},
    {"high bytes on another line", kSec + "\xFF\xFE\x80=zz\r\nKey=1\r\n", "Sec", "Key", "d", "1"},

    // The value cut
    {"value of 127 bytes whole", kSec + "Key=" + std::string(127, 'x') + "\r\n", "Sec", "Key", "d",
     std::string(127, 'x')},
    {"value of 128 bytes cut", kSec + "Key=" + std::string(128, 'x') + "\r\n", "Sec", "Key", "d",
     std::string(127, 'x')},
    {"long value cut", kSec + "Key=" + kLong + "\r\n", "Sec", "Key", "d", std::string(127, 'x')},
    {"quoted long value cut after the quotes go", kSec + "Key=\"" + kLong + "\"\r\n", "Sec", "Key",
     "d", std::string(127, 'x')},
    {"small buffer", kSec + "Key=abcdef\r\n", "Sec", "Key", "d", "abc", 4},
    {"buffer of one byte", kSec + "Key=abcdef\r\n", "Sec", "Key", "d", "", 1},
};

TEST(ProfileFile, ReadTable) {
    TempDir dir;
    int index = 0;
    for (const ReadCase& c : kReadCases) {
        const std::string path = dir / ("read" + std::to_string(index++) + ".ini");
        ASSERT_TRUE(kstest::WriteFileBytes(path, c.file)) << c.name;
        EXPECT_EQ(Visible(plat::ReadProfileString(path, c.section, c.key, c.def, c.maxBytes)),
                  Visible(c.expected))
            << c.name << ": " << Visible(c.file);
    }
}

TEST(ProfileFile, MissingFileOrFolderGivesTheDefault) {
    TempDir dir;
    EXPECT_EQ(plat::ReadProfileString(dir / "none.ini", "Sec", "Key", "dflt  ", kValueBuffer),
              "dflt");
    EXPECT_EQ(plat::ReadProfileString(plat::JoinPath(dir / "nodir", "x.ini"), "Sec", "Key", "d",
                                      kValueBuffer),
              "d");
    EXPECT_EQ(plat::ReadProfileString(dir / "none.ini", "Sec", "Key", kLong, kValueBuffer),
              std::string(127, 'x'));
}

// ---- Writing --------------------------------------------------------------------------------

struct WriteCase {
    const char* name;
    std::optional<std::string> before; // none: no file yet
    std::string section;
    std::string key;
    std::string value;
    std::string after;
};

// Files already in the form Windows writes, so that both sides must give these exact bytes.
const WriteCase kWriteCases[] = {
    {"new file", std::nullopt, "Sec", "Key", "Val", "[Sec]\r\nKey=Val\r\n"},
    {"empty file", "", "Sec", "Key", "Val", "[Sec]\r\nKey=Val\r\n"},
    {"file of a byte-order mark", "\xEF\xBB\xBF", "Sec", "Key", "Val",
     "\xEF\xBB\xBF[Sec]\r\nKey=Val\r\n"},
    {"new section appended", "[A]\r\nX=1\r\n", "B", "K", "v", "[A]\r\nX=1\r\n[B]\r\nK=v\r\n"},
    {"new section after a last line without line end", "[A]\r\nX=1", "B", "K", "v",
     "[A]\r\nX=1\r\n[B]\r\nK=v\r\n"},
    {"new section after a comment", "; top\r\n", "B", "K", "v", "; top\r\n[B]\r\nK=v\r\n"},
    {"new key after the section's last key", "[A]\r\nX=1\r\n[B]\r\nY=2\r\n", "A", "Z", "3",
     "[A]\r\nX=1\r\nZ=3\r\n[B]\r\nY=2\r\n"},
    {"new key after a last line without line end", "[A]\r\nX=1", "A", "Z", "3",
     "[A]\r\nX=1\r\nZ=3\r\n"},
    {"new key under a bare header", "[A]", "A", "Z", "3", "[A]\r\nZ=3\r\n"},
    {"new key after comment lines", "[A]\r\nX=1\r\n;c\r\n", "A", "Z", "3",
     "[A]\r\nX=1\r\n;c\r\nZ=3\r\n"},
    {"key replaced in place", "; head\r\n[A]\r\n;c\r\nX=1\r\nKey=old\r\nY=2\r\n[B]\r\nKey=b\r\n",
     "A", "Key", "new", "; head\r\n[A]\r\n;c\r\nX=1\r\nKey=new\r\nY=2\r\n[B]\r\nKey=b\r\n"},
    {"names of the file keep their case", "[Sec]\r\nkey=old\r\n", "SEC", "KEY", "new",
     "[Sec]\r\nkey=new\r\n"},
    {"new key spelled as given", "[Sec]\r\nX=1\r\n", "sec", "NewKey", "v",
     "[Sec]\r\nX=1\r\nNewKey=v\r\n"},
    {"same value again", "[A]\r\nX=1\r\n", "A", "X", "1", "[A]\r\nX=1\r\n"},
    {"empty value", "[A]\r\nX=1\r\n", "A", "X", "", "[A]\r\nX=\r\n"},
    {"quotes written as given", "[A]\r\nX=1\r\n", "A", "X", "\"q\"", "[A]\r\nX=\"q\"\r\n"},
    {"first of duplicate keys replaced", "[A]\r\nX=1\r\nX=2\r\n", "A", "X", "3",
     "[A]\r\nX=3\r\nX=2\r\n"},
    {"first of duplicate sections used", "[A]\r\nX=1\r\n[A]\r\nY=2\r\n", "A", "Y", "3",
     "[A]\r\nX=1\r\nY=3\r\n[A]\r\nY=2\r\n"},
    {"key without = replaced", "[A]\r\nX\r\nX=1\r\n", "A", "X", "2", "[A]\r\nX=2\r\nX=1\r\n"},
    {"key before any section kept", "X=1\r\n[A]\r\nY=2\r\n", "A", "Y", "3",
     "X=1\r\n[A]\r\nY=3\r\n"},
    {"unnamed section is the top of the file", "X=1\r\n[A]\r\nY=2\r\n", "", "Z", "3",
     "X=1\r\nZ=3\r\n[A]\r\nY=2\r\n"},
    {"unnamed section in a file without one", "[A]\r\nY=2\r\n", "", "Z", "3",
     "Z=3\r\n[A]\r\nY=2\r\n"},
    {"unclosed bracket is no header", "[A\r\nX=1\r\n", "A", "X", "2",
     "[A\r\nX=1\r\n[A]\r\nX=2\r\n"},
    {"byte-order mark kept", "\xEF\xBB\xBF[A]\r\nX=1\r\n", "A", "Y", "2",
     "\xEF\xBB\xBF[A]\r\nX=1\r\nY=2\r\n"},
    {"names and value lose leading blanks only", "[A]\r\n", " A ", " Y ", " v ",
     "[A]\r\nY =v \r\n"},
};

TEST(ProfileFile, WriteTable) {
    TempDir dir;
    int index = 0;
    for (const WriteCase& c : kWriteCases) {
        const std::string path = dir / ("write" + std::to_string(index++) + ".ini");
        if (c.before) {
            ASSERT_TRUE(kstest::WriteFileBytes(path, *c.before)) << c.name;
        }
        EXPECT_TRUE(plat::WriteProfileString(path, c.section, c.key, c.value))
            << c.name << ": error " << plat::LastErrorCode();
        EXPECT_EQ(Visible(kstest::ReadFileBytes(path)), Visible(c.after)) << c.name;
    }
}

struct Expect {
    std::string section;
    std::string key;
    std::string value;
};

struct WriteReadCase {
    const char* name;
    std::string before;
    std::string section;
    std::string key;
    std::string value;
    std::vector<Expect> expected; // read back afterwards
};

// Files in other layouts: the system may write the rest of such a file anew in its own form
// (Wine does), so only the answers read back afterwards must agree.
const WriteReadCase kWriteReadCases[] = {
    {"LF file, new key",
     "[A]\nX=1\n\n[B]\nY=2\n",
     "A",
     "Z",
     "3",
     {{"A", "X", "1"}, {"A", "Z", "3"}, {"B", "Y", "2"}}},
    {"LF file, key replaced",
     "[A]\nX=1\n[B]\nX=2\n",
     "B",
     "X",
     "5",
     {{"A", "X", "1"}, {"B", "X", "5"}}},
    {"CR file, new section", "[A]\rX=1\r", "B", "Y", "2", {{"A", "X", "1"}, {"B", "Y", "2"}}},
    {"blanks and blank lines",
     "\r\n[ A ]\r\n  X = 1  \r\n\r\n[B]\r\n Y = 2 \r\n\r\n",
     "a",
     "x",
     "5",
     {{"A", "X", "5"}, {"B", "Y", "2"}}},
    {"value with leading and trailing blanks",
     "[A]\r\nX=1\r\n",
     "A",
     "X",
     "  x  y  ",
     {{"A", "X", "x  y"}}},
    {"quoted value", "[A]\r\nX=1\r\n", "A", "Y", "\" q \"", {{"A", "X", "1"}, {"A", "Y", " q "}}},
    {"end-of-file mark", "[A]\r\nX=1\r\n\x1A", "A", "Y", "2", {{"A", "X", "1"}, {"A", "Y", "2"}}},
};

TEST(ProfileFile, WriteThenReadTable) {
    TempDir dir;
    int index = 0;
    for (const WriteReadCase& c : kWriteReadCases) {
        const std::string path = dir / ("rewrite" + std::to_string(index++) + ".ini");
        ASSERT_TRUE(kstest::WriteFileBytes(path, c.before)) << c.name;
        EXPECT_TRUE(plat::WriteProfileString(path, c.section, c.key, c.value))
            << c.name << ": error " << plat::LastErrorCode();
        for (const Expect& e : c.expected) {
            EXPECT_EQ(plat::ReadProfileString(path, e.section, e.key, "<none>", kValueBuffer),
                      e.value)
                << c.name << ": [" << e.section << "] " << e.key << " in "
                << Visible(kstest::ReadFileBytes(path));
        }
    }
}

#ifndef _WIN32
// This side rewrites only the line it sets. The system may write the rest of the file anew in
// its own form (Wine does), so this promise holds for POSIX alone.
TEST(ProfileFile, PosixKeepsTheLayoutOfOtherLines) {
    const WriteCase cases[] = {
        {"LF file, new key", "; settings\n\n[A]\n  X = 1  \n\n[B]\nY=2\n", "A", "Z", "3",
         "; settings\n\n[A]\n  X = 1  \nZ=3\n\n[B]\nY=2\n"},
        {"LF file, key replaced", "; settings\n\n[A]\n  X = 1  \n\n[B]\nY=2\n", "a", "x", "5",
         "; settings\n\n[A]\nX=5\n\n[B]\nY=2\n"},
        {"LF file, new section", "[A]\nX=1", "B", "K", "v", "[A]\nX=1\n[B]\nK=v\n"},
        {"CR file, new key", "[A]\rX=1\r", "A", "Y", "2", "[A]\rX=1\rY=2\r"},
        {"blank lines after the last key stay after it", "[A]\r\nX=1\r\n\r\n\r\n", "A", "Y", "2",
         "[A]\r\nX=1\r\nY=2\r\n\r\n\r\n"},
        {"end-of-file mark stays last", "[A]\r\nX=1\r\n\x1A", "A", "Y", "2",
         "[A]\r\nX=1\r\nY=2\r\n\x1A"},
    };
    TempDir dir;
    int index = 0;
    for (const WriteCase& c : cases) {
        const std::string path = dir / ("layout" + std::to_string(index++) + ".ini");
        ASSERT_TRUE(kstest::WriteFileBytes(path, *c.before)) << c.name;
        EXPECT_TRUE(plat::WriteProfileString(path, c.section, c.key, c.value)) << c.name;
        EXPECT_EQ(Visible(kstest::ReadFileBytes(path)), Visible(c.after)) << c.name;
    }
}
#endif

TEST(ProfileFile, WriteFailuresLeaveTheReasonAndTheFile) {
    TempDir dir;
    const std::string original = "[A]\r\nX=1\r\n";
    const std::string readOnly = dir / "ro.ini";
    ASSERT_TRUE(kstest::WriteFileBytes(readOnly, original));
    ASSERT_TRUE(plat::SetReadOnly(readOnly, true));
    plat::SetLastErrorCode(0);
    EXPECT_FALSE(plat::WriteProfileString(readOnly, "A", "X", "2"));
    EXPECT_EQ(plat::LastErrorCode(), plat::kErrAccessDenied);
    EXPECT_FALSE(plat::WriteProfileString(readOnly, "B", "Y", "2"));
    EXPECT_EQ(plat::LastErrorCode(), plat::kErrAccessDenied);
    EXPECT_EQ(kstest::ReadFileBytes(readOnly), original);
    EXPECT_EQ(plat::ReadProfileString(readOnly, "A", "X", "d", kValueBuffer), "1");

    const std::string inMissingFolder = plat::JoinPath(dir / "nodir", "x.ini");
    plat::SetLastErrorCode(0);
    EXPECT_FALSE(plat::WriteProfileString(inMissingFolder, "A", "X", "1"));
    EXPECT_EQ(plat::LastErrorCode(), plat::kErrPathNotFound);
    EXPECT_FALSE(kstest::Exists(dir / "nodir"));

    ASSERT_TRUE(plat::CreateFolder(dir / "folder.ini"));
    plat::SetLastErrorCode(0);
    EXPECT_FALSE(plat::WriteProfileString(dir / "folder.ini", "A", "X", "1"));
    EXPECT_EQ(plat::LastErrorCode(), plat::kErrAccessDenied);
}

// ---- Korean ---------------------------------------------------------------------------------

// The file is in the ANSI code page (CP949 under Wine, UTF-8 on POSIX), and the cut counts
// the bytes of that encoding: 2 per Korean character in CP949, 3 in UTF-8.
TEST(ProfileFile, KoreanInTheAnsiCodePage) {
    const std::string ga = "가";
    const std::size_t charBytes = plat::Utf8ToAnsi(ga).size();
    if (charBytes != 2 && charBytes != 3)
        GTEST_SKIP() << "ANSI code page " << plat::AnsiCodePage()
                     << " has no Korean; run with LC_ALL=ko_KR.UTF-8 under Wine";

    TempDir dir;
    std::string longValue = "ab";
    for (int i = 0; i < 100; ++i)
        longValue += ga;
    const std::string path = dir / "korean.ini";
    ASSERT_TRUE(kstest::WriteFileBytes(
        path, plat::Utf8ToAnsi("[설정]\r\n경로 = C:\\다운로드 \r\n긴값=" + longValue + "\r\n")));

    EXPECT_EQ(plat::ReadProfileString(path, "설정", "경로", "d", kValueBuffer), "C:\\다운로드");
    const std::size_t fits = (kValueBuffer - 1 - 2) / charBytes; // whole characters after "ab"
    std::string cut = "ab";
    for (std::size_t i = 0; i < fits; ++i)
        cut += ga;
    EXPECT_EQ(plat::ReadProfileString(path, "설정", "긴값", "d", kValueBuffer), cut);
    EXPECT_EQ(plat::ReadProfileString(path, "설정", "긴값", "d", 4), "ab");

    ASSERT_TRUE(plat::WriteProfileString(path, "설정", "경로", "D:\\설치"));
    ASSERT_TRUE(plat::WriteProfileString(path, "새 구역", "이름", "값"));
    EXPECT_EQ(kstest::ReadFileBytes(path),
              plat::Utf8ToAnsi("[설정]\r\n경로=D:\\설치\r\n긴값=" + longValue +
                               "\r\n[새 구역]\r\n이름=값\r\n"));
}

} // namespace
