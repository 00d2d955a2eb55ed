#include "config/SyncConfig.h"

#include "app/ProgramDir.h"
#include "platform/FileSystem.h"
#include "platform/Path.h"
#include "platform/ProfileFile.h"
#include "platform/Text.h"
#include "support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <climits>

namespace {

using kstest::TempDir;
using ::testing::HasSubstr;

class SyncConfigTest : public ::testing::Test {
protected:
    TempDir dir;
    std::string savedProgramDir = g_szProgramDir;
    std::string ini = dir / "KestrelSync.ini";

    SyncConfigTest() { g_szProgramDir = dir / "App"; }
    ~SyncConfigTest() override { g_szProgramDir = savedProgramDir; }

    // Settings files are written by hand in the ANSI code page.
    void WriteIni(const std::string& text) {
        ASSERT_TRUE(kstest::WriteFileBytes(ini, plat::Utf8ToAnsi(text)));
    }
    std::string Read(const char* key) const {
        return plat::ReadProfileString(ini, "VENTO", key, "<missing>", 128);
    }
};

TEST_F(SyncConfigTest, DefaultsWithoutAFile) {
    const CSyncConfig config(ini);
    EXPECT_EQ(config.m_strIniPath, ini);
    EXPECT_EQ(config.m_strServerIp, "127.0.0.1");
    EXPECT_EQ(config.m_nServerPort, 80);
    EXPECT_EQ(config.m_strDownloadBaseUrl, "lumen/version/forge/prod/master");
    EXPECT_EQ(config.m_strListFileName, "_listfile.txt");
    EXPECT_EQ(config.m_strLinkAppendName, "");
    EXPECT_EQ(config.m_nTimeCheckSpan, 5);
    EXPECT_EQ(config.m_strLocalBaseDir, g_szProgramDir);
    EXPECT_EQ(config.CheckConfig(), 1);
    EXPECT_FALSE(IsFileExist(ini));
}

TEST_F(SyncConfigTest, OnlyThePortInTheFile) {
    WriteIni("[VENTO]\nSVR_PORT_NO=8080\n");
    const CSyncConfig config(ini);
    EXPECT_EQ(config.m_nServerPort, 8080);
    EXPECT_EQ(config.m_strServerIp, "127.0.0.1");
    EXPECT_EQ(config.m_strListFileName, "_listfile.txt");
    EXPECT_EQ(config.m_nTimeCheckSpan, 5);
    EXPECT_TRUE(IsFileExist(ini));
}

TEST_F(SyncConfigTest, AllKeysRead) {
    WriteIni("[vento]\r\nsvr_ip_addr = update.example.test\r\nSVR_PORT_NO=8081\r\n"
             "DOWNLOAD_BASE_URL=/lumen/test\r\nLIST_FILE_NAME=list.txt\r\n"
             "LINK_APPEND_NAME=시험\r\nTIME_CHECK_SPAN=30\r\n");
    const CSyncConfig config(ini);
    EXPECT_EQ(config.m_strServerIp, "update.example.test");
    EXPECT_EQ(config.m_nServerPort, 8081);
    EXPECT_EQ(config.m_strDownloadBaseUrl, "/lumen/test");
    EXPECT_EQ(config.m_strListFileName, "list.txt");
    EXPECT_EQ(config.m_strLinkAppendName, "시험");
    EXPECT_EQ(config.m_nTimeCheckSpan, 30);
}

TEST_F(SyncConfigTest, GarbageAndOtherSectionsGiveDefaults) {
    WriteIni("garbage \x01\x02\n[OTHER]\nSVR_PORT_NO=1\n[VENTOX]\nTIME_CHECK_SPAN=9\n");
    const CSyncConfig config(ini);
    EXPECT_EQ(config.m_nServerPort, 80);
    EXPECT_EQ(config.m_nTimeCheckSpan, 5);
    EXPECT_EQ(config.m_strServerIp, "127.0.0.1");
}

TEST_F(SyncConfigTest, LongValuesAreCutTo127Bytes) {
    const std::string longUrl = std::string(100, 'u') + "/" + std::string(100, 'v');
    WriteIni("[VENTO]\nDOWNLOAD_BASE_URL=" + longUrl + "\n");
    const CSyncConfig config(ini);
    EXPECT_EQ(config.m_strDownloadBaseUrl, longUrl.substr(0, 127));
}

TEST_F(SyncConfigTest, LongProgramFolderIsKeptWhole) {
    g_szProgramDir = dir / std::string(200, 'p');
    const CSyncConfig config(ini);
    EXPECT_EQ(config.m_strLocalBaseDir, g_szProgramDir);
}

TEST_F(SyncConfigTest, IntegersReadAsAtoiDoes) {
    const std::pair<const char*, int> cases[] = {
        {"8080", 8080},
        {" 42x", 42},
        {"\t-7", -7},
        {"+5", 5},
        {"x5", 0},
        {"", 0},
        {"- 5", 0},
        {"007", 7},
        {"99999999999", INT_MAX},
        {"-99999999999", INT_MIN},
        {"0x1F", 0},
        {"１２", 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(AtoiValue(c.first), c.second) << c.first;

    WriteIni("[VENTO]\nSVR_PORT_NO=abc\nTIME_CHECK_SPAN=ten\n");
    const CSyncConfig config(ini);
    EXPECT_EQ(config.m_nServerPort, 0);
    EXPECT_EQ(config.m_nTimeCheckSpan, 0);
    EXPECT_EQ(config.CheckConfig(), -2);
}

TEST_F(SyncConfigTest, CheckOrder) {
    CSyncConfig config(ini);
    config.m_nServerPort = -1; // a negative port passes
    EXPECT_EQ(config.CheckConfig(), 1);
    config.m_strDownloadBaseUrl.clear();
    EXPECT_EQ(config.CheckConfig(), -4);
    config.m_strServerIp.clear();
    EXPECT_EQ(config.CheckConfig(), -3);
    config.m_nServerPort = 0;
    EXPECT_EQ(config.CheckConfig(), -2);
    config.m_strListFileName.clear();
    EXPECT_EQ(config.CheckConfig(), -1);
    config.m_strLinkAppendName.clear();
    config.m_nTimeCheckSpan = -100;
    EXPECT_EQ(config.CheckConfig(), -1);
}

TEST_F(SyncConfigTest, SaveWritesSixKeysAndKeepsTheRest) {
    WriteIni("; settings\n[OTHER]\nX=1\n[VENTO]\nEXTRA=keep me\nTIME_CHECK_SPAN=30\n");
    CSyncConfig config(ini);
    config.m_nServerPort = 0;
    config.m_strServerIp = "10.0.0.7";
    config.SaveConfig();

    EXPECT_EQ(Read("SVR_IP_ADDR"), "10.0.0.7");
    EXPECT_EQ(Read("SVR_PORT_NO"), "0");
    EXPECT_EQ(Read("DOWNLOAD_BASE_URL"), "lumen/version/forge/prod/master");
    EXPECT_EQ(Read("LIST_FILE_NAME"), "_listfile.txt");
    EXPECT_EQ(Read("LINK_APPEND_NAME"), "");
    EXPECT_EQ(Read("TIME_CHECK_SPAN"), "30");
    EXPECT_EQ(Read("EXTRA"), "keep me");
    EXPECT_EQ(plat::ReadProfileString(ini, "OTHER", "X", "", 128), "1");
    EXPECT_THAT(kstest::ReadFileBytes(ini), HasSubstr("; settings"));

    const CSyncConfig again(ini);
    EXPECT_EQ(again.m_strServerIp, "10.0.0.7");
    EXPECT_EQ(again.m_nServerPort, 0);
    EXPECT_EQ(again.m_nTimeCheckSpan, 30);
}

TEST_F(SyncConfigTest, SaveCreatesTheFile) {
    const CSyncConfig config(ini);
    config.SaveConfig();
    EXPECT_TRUE(IsFileExist(ini));
    EXPECT_EQ(Read("TIME_CHECK_SPAN"), "5");
    EXPECT_EQ(Read("SVR_PORT_NO"), "80");
    EXPECT_EQ(Read("LINK_APPEND_NAME"), "");
}

TEST_F(SyncConfigTest, FailedSaveKeepsTheValuesInMemory) {
    WriteIni("[VENTO]\nSVR_PORT_NO=8080\n");
    ASSERT_TRUE(plat::SetReadOnly(ini, true));
    CSyncConfig config(ini);
    config.m_nServerPort = 9090;
    config.SaveConfig();
    EXPECT_EQ(config.m_nServerPort, 9090);
    EXPECT_EQ(Read("SVR_PORT_NO"), "8080");

    CSyncConfig missingFolder(plat::JoinPath(dir / "nodir", "KestrelSync.ini"));
    missingFolder.SaveConfig();
    EXPECT_FALSE(IsFileExist(dir / "nodir"));
}

TEST(LinkNames, SuffixRules) {
    CSyncConfig config(std::string("no-such-folder-for-settings") + plat::kPathSep + "x.ini");
    UpdateLinkNames(config);
    EXPECT_EQ(g_szLinkAppendName, "");
    EXPECT_EQ(g_szAppDisplayName, "Lumen Forge");
    EXPECT_EQ(g_szEmergencyLinkName, "Lumen Forge - 다운로드 장애시");

    config.m_strLinkAppendName = "2";
    UpdateLinkNames(config);
    EXPECT_EQ(g_szLinkAppendName, "2");
    EXPECT_EQ(g_szAppDisplayName, "Lumen Forge 2");
    EXPECT_EQ(g_szEmergencyLinkName, "Lumen Forge - 다운로드 장애시 2");

    std::string longSuffix;
    for (int i = 0; i < 300; ++i)
        longSuffix += "가";
    config.m_strLinkAppendName = longSuffix;
    UpdateLinkNames(config);
    EXPECT_EQ(g_szLinkAppendName, longSuffix.substr(0, 510)); // 170 whole characters
    EXPECT_LE(g_szAppDisplayName.size(), kLinkNameMax);
    EXPECT_EQ(g_szAppDisplayName.compare(0, 12, "Lumen Forge "), 0);
    EXPECT_EQ((g_szAppDisplayName.size() - 12) % 3, 0u); // no character is split
    EXPECT_EQ(
        (g_szEmergencyLinkName.size() - std::string("Lumen Forge - 다운로드 장애시 ").size()) % 3,
        0u);
    EXPECT_LE(g_szEmergencyLinkName.size(), kLinkNameMax);
}

TEST(ConfigPath, UnderTheProgramFolder) {
    EXPECT_EQ(ConfigFilePath("App"),
              plat::JoinPath(plat::JoinPath("App", "config"), "KestrelSync.ini"));
}

} // namespace
