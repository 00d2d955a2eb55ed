// Reading whole list files: pieces, comments, line ends, encodings and the log line of a
// missing file.
#include "updatelist/ListFile.h"
#include "config/DirKeyMap.h"
#include "diag/MyLog.h"
#include "platform/FileSystem.h"
#include "platform/Path.h"
#include "platform/Text.h"
#include "support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

using kstest::TempDir;
using ::testing::HasSubstr;

class ListFileTest : public ::testing::Test {
protected:
    TempDir dir;
    DownFileItemList list;

    int Read(const std::string& bytes, const std::function<void(DownFileItem&)>& expand = nullptr) {
        const std::string path = dir / "_listfile.txt";
        EXPECT_TRUE(kstest::WriteFileBytes(path, bytes));
        return ReadListFile(path, dir.Path(), expand, list);
    }
    std::vector<std::string> ServerFiles() const {
        std::vector<std::string> names;
        for (const auto& item : list)
            names.push_back(item->m_strServerFile);
        return names;
    }
};

TEST_F(ListFileTest, EmptyAndCommentOnlyFilesGiveNoItems) {
    EXPECT_EQ(Read(""), 0);
    EXPECT_TRUE(list.empty());
    EXPECT_EQ(Read("#main program\n\n!note\r\n\n,,,\n#last"), 0);
    EXPECT_TRUE(list.empty());
}

TEST_F(ListFileTest, ItemsInFileOrderWithEitherLineEnd) {
    ASSERT_EQ(Read("#main program\nbin/main.exe\r\nlib/a.dll,lib\\a.dll\n\n  #indented\nlast"), 0);
    EXPECT_EQ(ServerFiles(),
              (std::vector<std::string>{"bin/main.exe", "lib/a.dll", "  #indented", "last"}));
    EXPECT_EQ(list[1]->m_strTargetFile, plat::JoinPath(plat::JoinPath(dir.Path(), "lib"), "a.dll"));
}

TEST_F(ListFileTest, ItemsAlreadyInTheListStay) {
    list.push_back(std::make_unique<DownFileItem>());
    list[0]->m_strServerFile = "earlier";
    ASSERT_EQ(Read("a\nb\n"), 0);
    EXPECT_EQ(ServerFiles(), (std::vector<std::string>{"earlier", "a", "b"}));
}

TEST_F(ListFileTest, LongLinesAreReadInPiecesOf254Bytes) {
    const std::string longLine = std::string(254, 'a') + std::string(46, 'b');
    const std::string fits = std::string(253, 'c');
    const std::string exact = std::string(254, 'd');
    ASSERT_EQ(Read(longLine + "\n" + fits + "\r\n" + exact + "\nend"), 0);
    EXPECT_EQ(ServerFiles(), (std::vector<std::string>{std::string(254, 'a'), std::string(46, 'b'),
                                                       fits, exact, "end"}));
}

TEST_F(ListFileTest, ByteOrderMarkIsNotRecognised) {
    ASSERT_EQ(Read("\xEF\xBB\xBF#comment\nx\n"), 0);
    // The mark's bytes are read in the ANSI code page like any others.
    EXPECT_EQ(ServerFiles(),
              (std::vector<std::string>{plat::AnsiToUtf8("\xEF\xBB\xBF#comment"), "x"}));
}

TEST_F(ListFileTest, NulByteEndsTheLine) {
    ASSERT_EQ(Read(std::string("abc\0def\n\0zzz\nok", 16)), 0);
    EXPECT_EQ(ServerFiles(), (std::vector<std::string>{"abc", "ok"}));
}

TEST_F(ListFileTest, SpecialFoldersExpandBeforeTheBaseFolderApplies) {
    TempDir fonts;
    CDirKeyMap map;
    map.LoadSpecialDirMap([&fonts](plat::SpecialFolder f) {
        return f == plat::SpecialFolder::Fonts ? fonts.Path() : std::string();
    });
    ASSERT_EQ(Read("font/a.ttf,_FONTS\\a.ttf,APP,FNT\nfont/b.ttf,_fonts/b.ttf\n",
                   [&map](DownFileItem& item) { map.ExpandSpecialDirPath(item); }),
              0);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0]->m_strTargetFile, plat::JoinPath(fonts.Path(), "a.ttf"));
    EXPECT_EQ(list[1]->m_strTargetFile,
              plat::JoinPath(plat::JoinPath(dir.Path(), "_fonts"), "b.ttf"));
}

TEST_F(ListFileTest, KoreanNamesInTheAnsiCodePage) {
    // CP949 bytes on Korean Windows, UTF-8 on POSIX: the names arrive as UTF-8 either way.
    const std::string line = "폰트/가나 다.ttf,글꼴\\가나 다.ttf,APP,FNT\n";
    ASSERT_EQ(Read(plat::Utf8ToAnsi(line)), 0);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0]->m_strServerFile, "폰트/가나 다.ttf");
    const std::string folder = dir / "글꼴";
    EXPECT_EQ(list[0]->m_strTargetFile, plat::JoinPath(folder, "가나 다.ttf"));

    ASSERT_TRUE(plat::CreateFolder(folder));
    ASSERT_TRUE(kstest::WriteFileBytes(list[0]->m_strTargetFile, "font"));
    std::vector<plat::FoundFile> found;
    ASSERT_TRUE(plat::FindFiles(plat::JoinPath(folder, "*.ttf"), found));
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].strName, "가나 다.ttf");
}

TEST_F(ListFileTest, Cp949ListFileUnderAKoreanCodePage) {
    if (plat::AnsiCodePage() != 949)
        GTEST_SKIP() << "needs the ANSI code page 949 (Windows build with LC_ALL=ko_KR.UTF-8)";
    // "가나.ttf" in CP949.
    ASSERT_EQ(Read("\xB0\xA1\xB3\xAA.ttf\n"), 0);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0]->m_strServerFile, "가나.ttf");
}

TEST_F(ListFileTest, MissingFileIsLoggedAndReported) {
    CMyLog log(10, dir / "log", "P");
    g_pMyLog = &log;
    const std::string missing = dir / "none.txt";
    EXPECT_EQ(ReadListFile(missing, dir.Path(), nullptr, list), -1);
    g_pMyLog = nullptr;
    EXPECT_TRUE(list.empty());
    const std::string text = plat::AnsiToUtf8(kstest::ReadFileBytes(log.GetLogPath()));
    EXPECT_THAT(text, HasSubstr("DEBUG CSyncEngine::GetFileListFileFromFile> fopen(" + missing +
                                ") Fail, ErrNo = 2"));
}

TEST(ListPieces, CutsAtLineEndsAndLength) {
    struct Case {
        std::string bytes;
        std::vector<std::string> pieces;
    } const cases[] = {
        {"", {}},
        {"a\nb", {"a\n", "b"}},
        {"a\r\nb\r\n", {"a\n", "b\n"}},
        {"a\rb\n", {"a\rb\n"}},
        {"\n\n", {"\n", "\n"}},
        {std::string(253, 'x') + "\r\n", {std::string(253, 'x') + "\n"}},
        {std::string(254, 'x') + "\n", {std::string(254, 'x'), "\n"}},
        {std::string(254, 'x') + "\r\n", {std::string(254, 'x'), "\n"}},
        {std::string(600, 'y'),
         {std::string(254, 'y'), std::string(254, 'y'), std::string(92, 'y')}},
        {std::string("a\0b\nc", 5), {"a", "c"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SplitListPieces(c.bytes), c.pieces) << c.bytes.size();
}

} // namespace
