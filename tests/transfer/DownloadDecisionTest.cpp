#include "engine/SyncEngine.h"
#include "platform/FileSystem.h"
#include "platform/Path.h"
#include "support/LogCapture.h"
#include "support/TempDir.h"
#include "transfer/HttpDate.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

using kstest::TempDir;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

constexpr std::int64_t kServerTime = 1765000000; // a whole second, any zone

class DownloadDecisionTest : public ::testing::Test {
protected:
    TempDir dir;
    kstest::LogCapture log;
    CSyncConfig config{dir / "none.ini"};
    CSyncEngine engine;

    DownloadDecisionTest() { engine.m_pConfig = &config; }

    // An item for dir/name with the server's time and size as the list would give them.
    DownFileItem Item(const std::string& name, int nClass = kFileClassApp,
                      int nType = kFileTypeFile, const std::string& size = "4") const {
        DownFileItem item;
        item.m_strServerFile = "srv/" + name;
        item.m_strTargetFile = dir / name;
        item.m_nFileClass = nClass;
        item.m_nFileType = nType;
        item.m_strModifyTime = FormatModifyTime(kServerTime);
        item.m_strFileSize = size;
        return item;
    }
    void Local(const std::string& name, const std::string& bytes, std::int64_t offset) {
        ASSERT_TRUE(kstest::WriteFileBytes(dir / name, bytes));
        ASSERT_TRUE(plat::SetFileModifyTime(dir / name, kServerTime + offset));
    }
    std::vector<std::string> DecisionLines() const { return log.Matching("IsFileToDownload>"); }
};

TEST_F(DownloadDecisionTest, TimeToleranceIsStrictlyGreater) {
    struct Case {
        std::int64_t offset;
        int expected;
    } const cases[] = {{0, 0}, {-5, 0}, {5, 0}, {-6, 1}, {6, 1}, {-3600, 1}};
    for (const Case& c : cases) {
        Local("a.bin", "data", c.offset);
        EXPECT_EQ(engine.IsFileToDownload(Item("a.bin")), c.expected) << c.offset;
    }
    EXPECT_THAT(DecisionLines(),
                ElementsAre(HasSubstr("DEBUG CCobaltSyncThread::IsFileToDownload> Local File(" +
                                      (dir / "a.bin") + ") Size(4)"),
                            "DEBUG CCobaltSyncThread::IsFileToDownload> Time Gap = -6",
                            HasSubstr("Size(4)"),
                            "DEBUG CCobaltSyncThread::IsFileToDownload> Time Gap = 6",
                            HasSubstr("Size(4)"),
                            "DEBUG CCobaltSyncThread::IsFileToDownload> Time Gap = -3600"));
}

TEST_F(DownloadDecisionTest, ToleranceFromTheSettings) {
    Local("a.bin", "data", 30);
    config.m_nTimeCheckSpan = 30;
    EXPECT_EQ(engine.IsFileToDownload(Item("a.bin")), 0);
    config.m_nTimeCheckSpan = 0;
    EXPECT_EQ(engine.IsFileToDownload(Item("a.bin")), 1);
    Local("a.bin", "data", 0);
    EXPECT_EQ(engine.IsFileToDownload(Item("a.bin")), 0);
}

TEST_F(DownloadDecisionTest, SizeDifferenceAloneDownloadsWithoutTraceLines) {
    Local("a.bin", "data", 0);
    EXPECT_EQ(engine.IsFileToDownload(Item("a.bin", kFileClassApp, kFileTypeFile, "5")), 1);
    EXPECT_EQ(engine.IsFileToDownload(Item("a.bin", kFileClassApp, kFileTypeFile, "")), 1);
    EXPECT_EQ(engine.IsFileToDownload(Item("a.bin", kFileClassApp, kFileTypeFile, "4x")), 0);
    EXPECT_THAT(DecisionLines(), IsEmpty());

    Local("empty.bin", "", 0);
    EXPECT_EQ(engine.IsFileToDownload(Item("empty.bin", kFileClassApp, kFileTypeFile, "")), 0);
}

TEST_F(DownloadDecisionTest, SystemFilesAreFetchedOnlyWhenAbsent) {
    Local("sys.dll", "different contents", 99999);
    EXPECT_EQ(engine.IsFileToDownload(Item("sys.dll", kFileClassSys)), 0);
    EXPECT_EQ(engine.IsFileToDownload(Item("absent.dll", kFileClassSys)), 1);
    EXPECT_THAT(DecisionLines(),
                ElementsAre("INFO  CCobaltSyncThread::IsFileToDownload> Local System File(" +
                            (dir / "sys.dll") + ") Already Exist"));
}

TEST_F(DownloadDecisionTest, DeletionEntriesAreNeverDownloaded) {
    EXPECT_EQ(engine.IsFileToDownload(Item("gone.dll", kFileClassApp, kFileTypeDel)), 0);
    Local("old.dll", "x", 5000);
    EXPECT_EQ(engine.IsFileToDownload(Item("old.dll", kFileClassSys, kFileTypeDel)), 0);
    EXPECT_THAT(DecisionLines(),
                ElementsAre("DEBUG CCobaltSyncThread::IsFileToDownload> File(srv/gone.dll) is "
                            "Delete Type File",
                            HasSubstr("File(srv/old.dll) is Delete Type File")));
}

TEST_F(DownloadDecisionTest, MissingFileOrFolder) {
    EXPECT_EQ(engine.IsFileToDownload(Item("absent.bin")), 1);
    EXPECT_THAT(DecisionLines(), IsEmpty());

    DownFileItem deep = Item("x");
    deep.m_strTargetFile = plat::JoinPath(dir / "no-folder", "x.bin");
    EXPECT_EQ(engine.IsFileToDownload(deep), 1);
    std::string text;
    ASSERT_TRUE(plat::SystemErrorText(plat::kErrPathNotFound, text));
    EXPECT_THAT(log.Messages(),
                ElementsAre("CCobaltSyncThread::IsFileToDownload> Local File Check : GetStatus(" +
                                deep.m_strTargetFile + ") Return = 0, ErrCode = 3",
                            "CMyLog::LogLastErrorText> " + text));
}

TEST_F(DownloadDecisionTest, UnreadableServerTimeDownloads) {
    Local("a.bin", "data", 0);
    DownFileItem item = Item("a.bin");
    item.m_strModifyTime = "";
    EXPECT_EQ(engine.IsFileToDownload(item), 1);
}

} // namespace
