// Parsing of single list-file lines, field splitting and the small string helpers.
#include "platform/Path.h"
#include "updatelist/DownFileItem.h"
#include "updatelist/StringUtil.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace {

// A path written with "\" in the expectations, as the platform spells it.
std::string P(std::string path) {
    for (char& c : path) {
        if (c == '\\')
            c = plat::kPathSep;
    }
    return path;
}

struct LineCase {
    const char* name;
    std::string line;
    std::string server;
    std::string local; // with "\" for the platform's separator
    std::string cls;
    int nClass;
    std::string type;
    int nType;
    std::string time = "";
    std::string size = "";
    std::string cmd = "";
};

TEST(ListLine, ColumnsDefaultsAndKeywords) {
    const LineCase cases[] = {
        {"server path only", "bin/main.exe", "bin/main.exe", "bin\\main.exe", "APP", 2, "FILE", 1},
        {"system COM server", "lib/ctl.ocx,%SystemDir%\\ctl.ocx,SYS,REG", "lib/ctl.ocx",
         "%SystemDir%\\ctl.ocx", "SYS", 1, "REG", 2},
        {"font", "font/a.ttf,_FONTS\\a.ttf,APP,FNT", "font/a.ttf", "_FONTS\\a.ttf", "APP", 2, "FNT",
         5},
        {"deletion", "old/x.dll,bin\\x.dll,APP,DEL", "old/x.dll", "bin\\x.dll", "APP", 2, "DEL", 4},
        {"time and size", "doc/readme.txt,doc\\readme.txt,APP,FILE,20261207093000,1532",
         "doc/readme.txt", "doc\\readme.txt", "APP", 2, "FILE", 1, "20261207093000", "1532"},
        {"empty field vanishes", "a.dll,,SYS", "a.dll", "SYS", "APP", 2, "FILE", 1},
        {"quoted empty local path falls back", "a.dll,\"\",SYS", "a.dll", "a.dll", "SYS", 1, "FILE",
         1},
        {"indented comment is an item", "  #note", "  #note", "  #note", "APP", 2, "FILE", 1},
        {"class trimmed and upper-cased", "a,b, sys ", "a", "b", "SYS", 1, "FILE", 1},
        {"class mixed case", "a,b,Sys", "a", "b", "SYS", 1, "FILE", 1},
        {"class SYSTEM", "a,b,system", "a", "b", "SYSTEM", 1, "FILE", 1},
        {"class shorter than three", "a,b,SY", "a", "b", "SY", 2, "FILE", 1},
        {"type FoNt", "a,b,APP,FoNt", "a", "b", "APP", 2, "FONT", 5},
        {"type FON", "a,b,APP,fon", "a", "b", "APP", 2, "FON", 5},
        {"type FIL", "a,b,APP,FIL", "a", "b", "APP", 2, "FIL", 1},
        {"type XYZ", "a,b,APP,XYZ", "a", "b", "APP", 2, "XYZ", 1},
        {"type APP", "a,b,APP,APP", "a", "b", "APP", 2, "APP", 1},
        {"type REGISTER", "a,b,APP,register", "a", "b", "APP", 2, "REGISTER", 2},
        {"type DELETE", "a,b,APP,Delete ", "a", "b", "APP", 2, "DELETE", 4},
        {"type REFERENCE", "a,b,APP,REFERENCE", "a", "b", "APP", 2, "REFERENCE", 6},
        {"type RE", "a,b,APP,RE", "a", "b", "APP", 2, "RE", 1},
        {"type keyword after blanks", "a,b,APP,  reg", "a", "b", "APP", 2, "REG", 2},
        {"CMD with four columns", "a,b,APP, cmd ", "a", "b", "APP", 2, "CMD", 3},
        {"CMD with five columns", "a,b,APP, cmd ,x", "a", "b", "APP", 2, "CMD", 3, "", "", "cmd"},
        {"time with separators", "a,b,APP,FILE,2026-12-07 09:30:00", "a", "b", "APP", 2, "FILE", 1,
         "20261207093000"},
        {"date only is unknown", "a,b,APP,FILE,2026-12-07", "a", "b", "APP", 2, "FILE", 1, ""},
        {"fifteen digits kept", "a,b,APP,FILE,202612070930001", "a", "b", "APP", 2, "FILE", 1,
         "202612070930001"},
        {"letters in time dropped", "a,b,APP,FILE,T2026/12/07 09h30m00s", "a", "b", "APP", 2,
         "FILE", 1, "20261207093000"},
        {"size as written", "a,b,APP,FILE,,12abc", "a", "b", "APP", 2, "FILE", 1, "", ""},
        {"size column six", "a,b,APP,FILE,x,12abc", "a", "b", "APP", 2, "FILE", 1, "", "12abc"},
        {"extra columns ignored", "a,b,APP,FILE,20261207093000,5,extra,more", "a", "b", "APP", 2,
         "FILE", 1, "20261207093000", "5"},
        {"blanks kept in paths", " a b , c ", " a b ", " c ", "APP", 2, "FILE", 1},
        {"both separators in local path", "a,x/y\\z", "a", "x\\y\\z", "APP", 2, "FILE", 1},
        {"quoted comma", "\"a,b\",c", "a,b", "c", "APP", 2, "FILE", 1},
        {"backslash quote inside quotes", "\"a\\\"b\",c", "a\\\"b", "c", "APP", 2, "FILE", 1},
        {"unterminated quote runs to the end", "x,\"abc,def", "x", "abc,def", "APP", 2, "FILE", 1},
        {"quoted field followed by text", "\"ab\"cd,e", "ab", "cd", "E", 2, "FILE", 1},
        {"quote in the middle splits", "ab\"cd\",e", "ab", "cd", "E", 2, "FILE", 1},
        {"only an empty quoted field", "\"\"", "", "", "APP", 2, "FILE", 1},
        {"korean names", "폰트/가나 다.ttf,_FONTS\\가나 다.ttf,app,fnt", "폰트/가나 다.ttf",
         "_FONTS\\가나 다.ttf", "APP", 2, "FNT", 5},
    };
    for (const LineCase& c : cases) {
        DownFileItem item;
        ASSERT_TRUE(item.ParseListLine(c.line)) << c.name;
        EXPECT_EQ(item.m_strServerFile, c.server) << c.name;
        EXPECT_EQ(item.m_strLocalFile, P(c.local)) << c.name;
        EXPECT_EQ(item.m_strTargetFile, P(c.local)) << c.name;
        EXPECT_EQ(item.m_strFileClass, c.cls) << c.name;
        EXPECT_EQ(item.m_nFileClass, c.nClass) << c.name;
        EXPECT_EQ(item.m_strFileType, c.type) << c.name;
        EXPECT_EQ(item.m_nFileType, c.nType) << c.name;
        EXPECT_EQ(item.m_strModifyTime, c.time) << c.name;
        EXPECT_EQ(item.m_strFileSize, c.size) << c.name;
        EXPECT_EQ(item.m_strCmdParam, c.cmd) << c.name;
        EXPECT_EQ(item.m_nSyncOkFlag, 0) << c.name;
    }
}

TEST(ListLine, LinesWithoutFieldsMakeNoItem) {
    for (const char* line : {"", ",", ",,,", "\"", ",,\""}) {
        DownFileItem item;
        item.m_strServerFile = "untouched";
        EXPECT_FALSE(item.ParseListLine(line)) << line;
        EXPECT_EQ(item.m_strServerFile, "untouched") << line;
        EXPECT_EQ(item.m_nFileType, 0) << line;
    }
}

TEST(SplitString, QuoteAndSeparatorRules) {
    struct Case {
        std::string separators;
        std::string text;
        std::vector<std::string> fields;
    } const cases[] = {
        {",", "a,b,c", {"a", "b", "c"}},
        {",", ",a,,b,", {"a", "b"}},
        {",", "\"\",\"\"", {"", ""}},
        {",", "\"a\\\\\",b", {"a\\\\", "b"}},
        {",", "\"abc\\", {"abc\\"}},
        {",", "\"abc\\\"", {"abc\\\""}},
        {",", "a\"\"b", {"a", "", "b"}},
        {",", "\"x,y\"\"z\"", {"x,y", "z"}},
        {", :",
         "Mon, 07 Dec 2026 09:30:00 GMT",
         {"Mon", "07", "Dec", "2026", "09", "30", "00", "GMT"}},
        {",", "", {}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> fields{"kept"};
        SplitString(fields, c.separators, c.text);
        std::vector<std::string> expected{"kept"};
        expected.insert(expected.end(), c.fields.begin(), c.fields.end());
        EXPECT_EQ(fields, expected) << c.text;
    }
}

TEST(StringHelpers, ExtractDigitsAndCommas) {
    EXPECT_EQ(ExtractDigits("2026-12-07 09:30:00"), "20261207093000");
    EXPECT_EQ(ExtractDigits("a1b2/c3"), "123");
    EXPECT_EQ(ExtractDigits("없음"), "");

    const std::pair<const char*, const char*> commas[] = {
        {"1234567", "1,234,567"}, {"999", "999"},        {"1000", "1,000"}, {"", ""}, {"12", "12"},
        {"abcd", "a,bcd"},        {"123456", "123,456"},
    };
    for (const auto& c : commas) {
        std::string out = "old";
        EXPECT_EQ(FormatWithCommas(c.first, out), 0);
        EXPECT_EQ(out, c.second) << c.first;
    }
}

TEST(StringHelpers, TotalProgressTextIsWhatPrintfWrites) {
    // Every item of lists of many lengths, ties of the quotient among them (1 of 2,000 is
    // exactly 0.05%).
    for (const int nCount : {1, 2, 3, 7, 8, 16, 40, 333, 999, 2000, 4096, 99999, 1000001}) {
        const int nStep = nCount > 5000 ? 97 : 1;
        for (int n = 0; n <= nCount; n += nStep) {
            char expected[64];
            std::snprintf(expected, sizeof expected, "%d / %d  (%3.1lf%%)", n, nCount,
                          n * 100.0 / nCount);
            ASSERT_EQ(TotalProgressText(n, nCount), expected);
        }
    }
}

TEST(TargetPath, ResolutionAgainstTheBaseFolder) {
    const std::string savedSystem = g_strSystemDir;
    const std::string savedWindows = g_strWindowsDir;
    struct Case {
        std::string local;
        std::string expected;
    };
#ifdef _WIN32
    g_strSystemDir = "C:\\Windows\\system32";
    g_strWindowsDir = "C:\\Windows";
    const std::string bases[] = {"C:\\Lumen", "C:\\Lumen\\"};
    const Case cases[] = {
        {"bin\\a.dll", "C:\\Lumen\\bin\\a.dll"},
        {"\\Temp\\x.txt", "C:\\Temp\\x.txt"},
        {"D:\\Data\\y.dat", "D:\\Data\\y.dat"},
        {"%SystemDir%\\ctl.ocx", "C:\\Windows\\system32\\ctl.ocx"},
        {"%SystemRoot%\\fonts\\a.ttf", "C:\\Windows\\fonts\\a.ttf"},
        {"sub\\%SystemRoot%x", "C:\\Lumen\\sub\\C:\\Windowsx"},
        {"%systemdir%\\x", "C:\\Lumen\\%systemdir%\\x"},
        {"", "C:\\Lumen\\"},
        {"\\\\server\\x", "C:\\\\server\\x"},
    };
#else
    g_strSystemDir = "/w/drive_c/windows/system32";
    g_strWindowsDir = "/w/drive_c/windows";
    const std::string bases[] = {"/opt/lumen", "/opt/lumen/"};
    const Case cases[] = {
        {"bin/a.dll", "/opt/lumen/bin/a.dll"},
        {"/tmp/x.txt", "/tmp/x.txt"},
        {"%SystemDir%/ctl.ocx", "/w/drive_c/windows/system32/ctl.ocx"},
        {"%SystemRoot%/fonts/a.ttf", "/w/drive_c/windows/fonts/a.ttf"},
        {"%systemdir%/x", "/opt/lumen/%systemdir%/x"},
        {"", "/opt/lumen/"},
        {"C:/x", "/opt/lumen/C:/x"},
    };
#endif
    for (const std::string& base : bases) {
        for (const Case& c : cases) {
            DownFileItem item;
            item.m_strTargetFile = c.local;
            item.MakeTargetFilePath(base);
            EXPECT_EQ(item.m_strTargetFile, c.expected) << base << " + " << c.local;
        }
    }
    g_strSystemDir = savedSystem;
    g_strWindowsDir = savedWindows;
}

#ifdef _WIN32
TEST(TargetPath, RootRelativeOnABaseWithoutDrive) {
    DownFileItem item;
    item.m_strTargetFile = "\\x.txt";
    item.MakeTargetFilePath("\\\\server\\share");
    EXPECT_EQ(item.m_strTargetFile, "\\\\server\\share\\\\x.txt");
}
#endif

} // namespace
