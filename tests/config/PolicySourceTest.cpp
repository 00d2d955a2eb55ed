// The policy over the settings file, read from a real store: the registry (under Wine) or a
// policy file.
#include "config/PolicySource.h"

#include "app/ProgramDir.h"
#include "config/SyncConfig.h"
#include "platform/FileSystem.h"
#include "support/LogCapture.h"
#include "support/TempDir.h"
#include "support/TestPolicy.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <map>

namespace {

using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

// The value config holds for a key, as text.
std::string ValueOf(const CSyncConfig& c, const std::string& key) {
    const std::map<std::string, std::function<std::string()>> fields = {
        {"SVR_IP_ADDR", [&] { return c.m_strServerIp; }},
        {"SVR_PORT_NO", [&] { return std::to_string(c.m_nServerPort); }},
        {"DOWNLOAD_BASE_URL", [&] { return c.m_strDownloadBaseUrl; }},
        {"LIST_FILE_NAME", [&] { return c.m_strListFileName; }},
        {"LINK_APPEND_NAME", [&] { return c.m_strLinkAppendName; }},
        {"TIME_CHECK_SPAN", [&] { return std::to_string(c.m_nTimeCheckSpan); }},
        {"USE_HTTPS", [&] { return std::to_string(c.m_bUseHttps); }},
        {"CONNECTIONS",
         [&] { return std::to_string(c.m_nConnections) + "/" + c.m_strConnections; }},
        {"RETRY_COUNT", [&] { return std::to_string(c.m_nRetryCount); }},
        {"ROLLOUT_GROUP", [&] { return std::to_string(c.m_nRolloutGroup); }},
        {"REPORT", [&] { return std::to_string(c.m_bReport); }},
    };
    return fields.at(key)();
}

enum class Form { kText, kNumber, kOther };

struct PolicyRow {
    const char* key;
    Form form;
    const char* text; // the text, the number's digits, or the POSIX stand-in of another type
    const char* expected;
    const char* warning; // the level-3 line's text after the key; empty when the value is taken
};

class PolicySourceTest : public ::testing::Test {
protected:
    kstest::LogCapture log;
    kstest::TempDir dir;
    std::string savedProgramDir = g_szProgramDir;
    std::string ini = dir / "KestrelSync.ini";

    PolicySourceTest() { g_szProgramDir = dir.Path(); }
    ~PolicySourceTest() override { g_szProgramDir = savedProgramDir; }
};

TEST_F(PolicySourceTest, PolicyOverridesTheSettingsFileKeyByKey) {
    ASSERT_TRUE(kstest::WriteFileBytes(
        ini, "[VENTO]\nSVR_IP_ADDR=10.9.9.9\nSVR_PORT_NO=81\nDOWNLOAD_BASE_URL=prod/file\n"
             "LIST_FILE_NAME=files.txt\nLINK_APPEND_NAME=file\nTIME_CHECK_SPAN=7\nUSE_HTTPS=0\n"
             "CONNECTIONS=2\nRETRY_COUNT=4\nROLLOUT_GROUP=1\nREPORT=0\n"));
#if defined(_WIN32)
    const char* const otherType = " = (REG_BINARY value) ignored, not REG_SZ or REG_DWORD";
#else
    const char* const otherType = " = \"four\" ignored, not a whole number";
#endif
    const PolicyRow rows[] = {
        {"SVR_IP_ADDR", Form::kText, "10.0.0.5", "10.0.0.5", ""},
        {"SVR_PORT_NO", Form::kNumber, "8080", "8080", ""},
        {"DOWNLOAD_BASE_URL", Form::kText, " prod/policy ", "prod/policy", ""},
        {"ROLLOUT_GROUP", Form::kNumber, "3", "3", ""},
        {"REPORT", Form::kNumber, "1", "1", ""},
        {"CONNECTIONS", Form::kOther, "four", "2/2", otherType},
        {"RETRY_COUNT", Form::kText, "11", "4", " = \"11\" ignored, not within 0-10"},
        {"USE_HTTPS", Form::kNumber, "2", "0", " = \"2\" ignored, not within 0-1"},
        {"LIST_FILE_NAME", Form::kText, "", "files.txt", " = \"\" ignored, empty"},
        {"TIME_CHECK_SPAN", Form::kText, "-1", "7", " = \"-1\" ignored, not within 0-2147483647"},
        {"LINK_APPEND_NAME", Form::kText, "policy", "file", ""}, // not a policy key
    };
    kstest::TestPolicy policy;
    for (const PolicyRow& row : rows) {
        const bool written = row.form == Form::kText ? policy.SetText(row.key, row.text)
                             : row.form == Form::kNumber
                                 ? policy.SetNumber(row.key, std::stoul(row.text))
                                 : policy.SetOtherType(row.key, "\x01\x02", row.text);
        ASSERT_TRUE(written) << row.key;
    }
    const CSyncConfig config(ini, policy.Location());
    LogPolicyValues(config);
    const std::vector<std::string> lines = log.LevelsAndMessages();
    for (const PolicyRow& row : rows) {
        const std::string key = row.key;
        EXPECT_EQ(ValueOf(config, key), row.expected) << key;
        const bool taken = *row.warning == '\0' && key != "LINK_APPEND_NAME";
        EXPECT_EQ(config.IsFromPolicy(key), taken) << key;
        const std::string noted = "INFO  CSyncEngine::LoadPolicy> " + key + " = ";
        EXPECT_EQ(log.Matching(noted.substr(6)).size(), taken ? 1u : 0u) << key;
        if (taken) {
            EXPECT_THAT(lines, Contains(noted + row.expected + " (policy)"));
        }
        if (*row.warning != '\0') {
            EXPECT_THAT(lines, Contains("WARN  CSyncConfig::LoadPolicy> " + key + row.warning +
                                        "; the settings file's value is used"));
        }
    }
    EXPECT_EQ(config.m_mapPolicyValues.size(), 5u);

#if !defined(_WIN32)
    // A policy that exists but cannot be read (here a folder) leaves the file's values.
    const CSyncConfig unread(ini, dir.Path());
    EXPECT_EQ(unread.m_strServerIp, "10.9.9.9");
    EXPECT_THAT(unread.m_mapPolicyValues, IsEmpty());
    EXPECT_THAT(log.LevelsAndMessages(),
                Contains(HasSubstr("WARN  CSyncConfig::LoadPolicy> Can't read the policy " +
                                   dir.Path() + ", ErrCode = ")));
#endif
}

} // namespace
