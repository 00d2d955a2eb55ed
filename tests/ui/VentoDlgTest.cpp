// The main dialog's behaviour: initialisation, Start with and without the self-update check,
// Stop, the settings dialog and the end of a run, with a recording window.
#include "app/ProgramDir.h"
#include "app/VentoApp.h"
#include "platform/FileSystem.h"
#include "platform/Path.h"
#include "platform/Process.h"
#include "platform/ProfileFile.h"
#include "platform/Text.h"
#include "support/FakeDlg.h"
#include "support/LogCapture.h"
#include "support/Nginx.h"
#include "support/TempDir.h"
#include "support/TestHttpServer.h"
#include "support/TestMachine.h"
#include "support/TestPolicy.h"
#include "transfer/HttpDate.h"
#include "trust/SignedList.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>

namespace {

using kstest::FakeDlg;
using kstest::HttpRequestSeen;
using kstest::HttpScriptedResponse;
using kstest::TempDir;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

class VentoDlgTest : public ::testing::Test {
protected:
    kstest::LogCapture log;
    kstest::TestMachine machine;
    TempDir program;
    TempDir served;
    kstest::TestHttpServer server;
    std::string savedProgramDir = g_szProgramDir;

    VentoDlgTest() {
        g_szProgramDir = program.Path();
        CreateWorkDirectories();
        server.ServeFolder(served.Path());
    }
    ~VentoDlgTest() override { g_szProgramDir = savedProgramDir; }

    std::string Ini() const { return ConfigFilePath(program.Path()); }
    void WriteSettings(const std::string& list = "_listfile.txt") {
        const std::string ini = Ini();
        plat::WriteProfileString(ini, "VENTO", "SVR_IP_ADDR", "127.0.0.1");
        plat::WriteProfileString(ini, "VENTO", "SVR_PORT_NO", std::to_string(server.Port()));
        plat::WriteProfileString(ini, "VENTO", "DOWNLOAD_BASE_URL", "prod");
        plat::WriteProfileString(ini, "VENTO", "LIST_FILE_NAME", list);
    }
    void Serve(const std::string& name, const std::string& bytes, std::int64_t t = 1765000000) {
        const std::string file = plat::JoinPath(plat::JoinPath(served.Path(), "prod"), name);
        plat::CreateFolderChain(file.substr(0, plat::LastSepPos(file)));
        ASSERT_TRUE(kstest::WriteFileBytes(file, bytes));
        ASSERT_TRUE(plat::SetFileModifyTime(file, t));
    }
    std::string Local(const std::string& name) const { return program / name; }
};

TEST_F(VentoDlgTest, FirstStartOpensTheSettingsWithTheDefaults) {
    FakeDlg dialog(nullptr, "");
    dialog.InitDialogState();
    const std::vector<CConfigFields> shown = dialog.ConfigDialogs();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].m_strServerPort, "80");
    EXPECT_EQ(shown[0].m_strServerIp, "127.0.0.1");
    EXPECT_EQ(shown[0].m_strDownloadBaseUrl, "lumen/version/forge/prod/master");
    EXPECT_EQ(shown[0].m_strListFileName, "_listfile.txt");
    EXPECT_EQ(shown[0].m_strLinkAppendName, "");
    EXPECT_EQ(shown[0].m_strLocalBaseDir, program.Path());
    EXPECT_FALSE(kstest::Exists(Ini())); // Cancel writes nothing
    EXPECT_THAT(dialog.view.Rows(),
                ElementsAre(std::make_pair(kStatusNormal, std::string("Program Argument = "))));
    EXPECT_THAT(dialog.Posted(), IsEmpty());
    EXPECT_THAT(dialog.Buttons(), ElementsAre("start+", "stop+"));
    EXPECT_THAT(log.Messages(), Contains(HasSubstr("CVentoDlg::LoadSpecialDirMap> _FONTS = [")));
}

TEST_F(VentoDlgTest, AcceptedSettingsAreWrittenAsTyped) {
    FakeDlg dialog(nullptr, "");
    dialog.onConfig = [](CConfigFields& fields) {
        fields.m_strServerPort = "abc";
        fields.m_strServerIp = "10.1.2.3";
        fields.m_strLinkAppendName = "2";
        fields.m_strLocalBaseDir = "ignored";
        return true;
    };
    dialog.InitDialogState();
    EXPECT_EQ(plat::ReadProfileString(Ini(), "VENTO", "SVR_PORT_NO", "", 128), "0");
    EXPECT_EQ(plat::ReadProfileString(Ini(), "VENTO", "SVR_IP_ADDR", "", 128), "10.1.2.3");
    EXPECT_EQ(plat::ReadProfileString(Ini(), "VENTO", "TIME_CHECK_SPAN", "", 128), "5");
    EXPECT_EQ(dialog.GetConfig()->m_strLocalBaseDir, program.Path());
    EXPECT_EQ(g_szAppDisplayName, "Lumen Forge 2");
    EXPECT_EQ(g_szEmergencyLinkName, "Lumen Forge - 다운로드 장애시 2");
    // The port 0 refuses every start.
    dialog.OnButtonStart();
    ASSERT_EQ(dialog.view.MessageBoxes().size(), 1u);
    EXPECT_EQ(dialog.view.MessageBoxes()[0].strText,
              "환경 정보가 올바르지 않습니다. 확인하여 주세요...");
    EXPECT_EQ(dialog.view.MessageBoxes()[0].nType, kMbOk);
    EXPECT_EQ(dialog.GetSyncEngine(), nullptr);
}

TEST_F(VentoDlgTest, OnlyTheArgument2StartsByItself) {
    WriteSettings();
    for (const char* argument : {"2", "2 ", "02", "1", "test", ""}) {
        FakeDlg dialog(nullptr, argument);
        dialog.InitDialogState();
        EXPECT_THAT(dialog.ConfigDialogs(), IsEmpty());
        EXPECT_EQ(dialog.Posted(), std::string(argument) == "2" ? std::vector<int>{kWmSyncStart}
                                                                : std::vector<int>{})
            << argument;
        EXPECT_THAT(
            dialog.view.Rows(),
            Contains(std::make_pair(kStatusNormal, std::string("Program Argument = ") + argument)));
    }
}

TEST_F(VentoDlgTest, StopWithoutARun) {
    WriteSettings();
    FakeDlg dialog(nullptr, "");
    dialog.InitDialogState();
    dialog.OnButtonStop();
    EXPECT_THAT(dialog.Buttons(), ElementsAre("start+", "stop+", "start+", "stop-"));
    EXPECT_THAT(log.Messages(), Not(Contains(HasSubstr("OnButtonStop"))));
}

TEST_F(VentoDlgTest, RunThenStartTheApplicationAndClose) {
    WriteSettings();
    Serve("_listfile.txt", "a.txt\n");
    Serve("a.txt", "hello");
    ASSERT_TRUE(plat::CopyFileOver(kstest::FakeAppPath(), Local("Lumen@Forge.exe")));
    FakeDlg dialog(nullptr, "");
    dialog.InitDialogState();
    dialog.OnButtonStart();
    ASSERT_EQ(dialog.WaitForSyncDone(), kSyncDoneComplete);
    EXPECT_EQ(kstest::ReadFileBytes(Local("a.txt")), "hello");
    dialog.OnSyncDone(kSyncDoneComplete);
    EXPECT_THAT(dialog.Posted(), ElementsAre(kWmClose));
    EXPECT_EQ(kstest::WaitForFileText(Local("Lumen@Forge.exe.started")), "started\n");
    const std::vector<std::string> messages = log.Messages();
    EXPECT_THAT(messages, Contains("CVentoDlg::OnButtonStart> Create Vento Engine"));
    EXPECT_THAT(messages, Contains("CVentoExeApp::ClearSpecialDirMap> Map Count = 9"));
    EXPECT_THAT(messages, Contains(HasSubstr("CVentoCtrl::CopyAndRun> Agent Start, PID = ")));
}

TEST_F(VentoDlgTest, FailedRunGivesTheButtonsBack) {
    WriteSettings();
    FakeDlg dialog(nullptr, "");
    dialog.InitDialogState();
    dialog.OnButtonStart(); // no list file on the server
    ASSERT_EQ(dialog.WaitForSyncDone(), kSyncDoneNoList);
    dialog.OnSyncDone(kSyncDoneNoList);
    EXPECT_THAT(dialog.Buttons(), ElementsAre("start+", "stop+", "start+", "stop-", "close+"));
    EXPECT_THAT(dialog.Posted(), IsEmpty());
}

TEST_F(VentoDlgTest, TargetThatCannotStartStillCloses) {
    WriteSettings();
    FakeDlg dialog(nullptr, "");
    dialog.InitDialogState();
    dialog.OnSyncDone(kSyncDoneComplete); // there is no Lumen@Forge.exe
    EXPECT_THAT(dialog.Posted(), ElementsAre(kWmClose));
    EXPECT_THAT(log.LevelsAndMessages(),
                Contains(HasSubstr("ERROR CVentoCtrl::CopyAndRun> CreateProcess() Fail, RetVal = "
                                   "0, ErrCode = ")));
}

TEST_F(VentoDlgTest, StartReplacesARunningEngine) {
    // The first engine is replaced at once, when its worker may not have begun, and while its
    // first download stalls. Either way the files come in the run of the second engine, and
    // the dialog hears of that run's end only: the replaced run's would give the buttons back
    // while the second one goes on.
    WriteSettings();
    for (const bool bFirstRunBegun : {false, true}) {
        SCOPED_TRACE(bFirstRunBegun ? "replaced during a download" : "replaced at once");
        const std::string prefix = bFirstRunBegun ? "g" : "f";
        std::string list;
        for (int i = 0; i < 200; ++i) {
            Serve(prefix + std::to_string(i), std::string(1000, 'x'));
            list += prefix + std::to_string(i) + "\n";
        }
        Serve("_listfile.txt", list);
        const std::string stalled = "/prod/" + prefix + "0";
        auto pStallsLeft = std::make_shared<std::atomic<int>>(bFirstRunBegun ? 1 : 0);
        server.SetHandler([this, stalled, pStallsLeft](const HttpRequestSeen& request) {
            HttpScriptedResponse response = server.FolderResponse(request);
            if (request.strMethod == "GET" && request.strTarget == stalled &&
                pStallsLeft->fetch_sub(1) > 0)
                response.nStallAfter = 0;
            return response;
        });
        const std::size_t nEarlier = log.Messages().size();
        FakeDlg dialog(nullptr, "");
        dialog.InitDialogState();
        dialog.OnButtonStart();
        if (bFirstRunBegun) {
            for (int i = 0; i < 6000 && *pStallsLeft > 0; ++i)
                plat::SleepMs(20);
            ASSERT_LE(*pStallsLeft, 0) << "the first run never asked for " << stalled;
        }
        dialog.OnButtonStart();
        dialog.WaitForSyncDone();
        EXPECT_THAT(dialog.view.Outcomes(), ElementsAre(kSyncDoneComplete));
        // The first engine may be deleted before its worker began: that worker must not make
        // a whole run of its own while the second start waits for it.
        const std::vector<std::string> all = log.Messages();
        const std::vector<std::string> messages(all.begin() + static_cast<long>(nEarlier),
                                                all.end());
        EXPECT_THAT(messages, Contains("CVentoDlg::OnButtonStart> Delete Previous Vento Engine"));
        const auto second =
            std::find(std::find(messages.begin(), messages.end(),
                                "CVentoDlg::OnButtonStart> Create Vento Engine") +
                          1,
                      messages.end(), "CVentoDlg::OnButtonStart> Create Vento Engine");
        ASSERT_NE(second, messages.end());
        EXPECT_EQ(
            std::count(messages.begin(), second, "SyncThreadMain> Result = updated, Cause = none"),
            0);
        EXPECT_EQ(
            std::count(second, messages.end(), "SyncThreadMain> Result = updated, Cause = none"),
            1);
        EXPECT_EQ(plat::FileSizeOf(Local(prefix + "0")), 1000);
    }
}

TEST_F(VentoDlgTest, PolicyFieldsAreReadOnlyAndNeverSaved) {
    WriteSettings();
    kstest::TestPolicy policy;
    ASSERT_TRUE(policy.SetText("SVR_IP_ADDR", "10.0.0.5"));
    FakeDlg dialog(nullptr, "");
    dialog.SetPolicyLocation(policy.Location());
    dialog.onConfig = [](CConfigFields& fields) {
        fields.m_strServerIp = "10.1.2.3"; // typed into the read-only field all the same
        fields.m_strServerPort = "8081";
        return true;
    };
    dialog.InitDialogState();
    dialog.OnButtonConfig();
    const std::vector<CConfigFields> shown = dialog.ConfigDialogs();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].m_strServerIp, "10.0.0.5");
    EXPECT_THAT(shown[0].m_setPolicyKeys, ElementsAre("SVR_IP_ADDR"));
    EXPECT_EQ(dialog.GetConfig()->m_strServerIp, "10.0.0.5");
    EXPECT_EQ(plat::ReadProfileString(Ini(), "VENTO", "SVR_IP_ADDR", "", 128), "127.0.0.1");
    EXPECT_EQ(plat::ReadProfileString(Ini(), "VENTO", "SVR_PORT_NO", "", 128), "8081");
}

// The settings file names a server with other files; the policy names the right one (nginx).
TEST_F(VentoDlgTest, RunFetchesFromThePolicyServer) {
    kstest::NginxSite site;
    if (!site.Skip().empty())
        GTEST_SKIP() << site.Skip();
    WriteSettings();
    const std::string base = site.Base() + "/prod";
    plat::WriteProfileString(Ini(), "VENTO", "DOWNLOAD_BASE_URL", base);
    const std::string settingsServer =
        plat::JoinPath(plat::JoinPath(served.Path(), site.Base()), "prod");
    for (const char* name : {"_listfile.txt", "a.txt"}) {
        const std::string text = name[0] == '_' ? "a.txt\n" : "";
        const std::string path = site.ServedPath(std::string("prod/") + name);
        ASSERT_TRUE(plat::CreateFolderChain(path.substr(0, plat::LastSepPos(path))));
        ASSERT_TRUE(kstest::WriteFileBytes(path, text.empty() ? "policy's server" : text));
        ASSERT_TRUE(plat::CreateFolderChain(settingsServer));
        ASSERT_TRUE(kstest::WriteFileBytes(plat::JoinPath(settingsServer, name),
                                           text.empty() ? "settings' server" : text));
    }
    kstest::TestPolicy policy;
    ASSERT_TRUE(policy.SetNumber("SVR_PORT_NO", static_cast<std::uint32_t>(site.Port())));
    FakeDlg dialog(nullptr, "");
    dialog.SetPolicyLocation(policy.Location());
    dialog.InitDialogState();
    dialog.OnButtonStart();
    ASSERT_EQ(dialog.WaitForSyncDone(), kSyncDoneComplete);
    EXPECT_EQ(kstest::ReadFileBytes(Local("a.txt")), "policy's server");
    EXPECT_THAT(log.LevelsAndMessages(), Contains("INFO  CSyncEngine::LoadPolicy> SVR_PORT_NO = " +
                                                  std::to_string(site.Port()) + " (policy)"));
    std::vector<std::string> requests;
    for (const kstest::AccessLine& request : site.Requests())
        requests.push_back(request.method + " " + request.uri);
    EXPECT_THAT(requests, Contains("GET \"/" + base + "/a.txt\""));
}

// ---- the self-update check of a copy started with "1" ---------------------------------------

class SelfUpdateTest : public VentoDlgTest {
protected:
    CVentoApp app{nullptr};
    std::vector<std::string> appMessages;

    SelfUpdateTest() {
        WriteSettings();
        Serve("_listfile.txt", "");
        app.SetMessageBox([this](const std::string& text, const std::string&, unsigned) {
            appMessages.push_back(text);
            return 1;
        });
    }
    // The local updater with the time the server's would be judged by.
    void LocalUpdater(const std::string& bytes, std::int64_t serverTime) {
        ASSERT_TRUE(kstest::WriteFileBytes(Local("KestrelSync.exe"), bytes));
        std::int64_t t = 0;
        ASSERT_TRUE(ModifyTimeToEpoch(
            FormatModifyTime(CSyncEngine::ParseHttpDate(kstest::HttpDate(serverTime))), t));
        ASSERT_TRUE(plat::SetFileModifyTime(Local("KestrelSync.exe"), t));
    }
};

TEST_F(SelfUpdateTest, CurrentUpdaterIsKept) {
    Serve("KestrelSync.exe", "updater v1");
    LocalUpdater("updater v1", 1765000000);
    FakeDlg dialog(&app, "1");
    dialog.InitDialogState();
    dialog.OnButtonStart();
    EXPECT_EQ(dialog.WaitForSyncDone(), kSyncDoneComplete); // the ordinary run followed
    EXPECT_THAT(dialog.Posted(), IsEmpty());
    EXPECT_THAT(log.Messages(), Contains(HasSubstr("CSyncEngine::IsSelfFileUpdated> Server File "
                                                   "ModifyTime = ")));
    EXPECT_THAT(log.Messages(), Not(Contains(HasSubstr("Download OK"))));
    EXPECT_FALSE(kstest::Exists(Local("KestrelSyncRun2.exe")));
}

TEST_F(SelfUpdateTest, NewerUpdaterIsStoredAndTheCopyRelaunches) {
    Serve("KestrelSync.exe", "updater v2, longer");
    LocalUpdater("updater v1", 1765000000 - 3600);
    FakeDlg dialog(&app, "1");
    dialog.InitDialogState();
    dialog.OnButtonStart();
    EXPECT_EQ(kstest::ReadFileBytes(Local("KestrelSync.exe")), "updater v2, longer");
    EXPECT_EQ(kstest::ReadFileBytes(Local("KestrelSyncRun2.exe")), "updater v2, longer");
    EXPECT_FALSE(kstest::Exists(SelfUpdateTempPath()));
    EXPECT_THAT(dialog.Posted(), ElementsAre(kWmClose));
    EXPECT_THAT(log.Messages(), Contains("CSyncEngine::IsSelfFileUpdated> Download OK, File = " +
                                         Local("KestrelSync.exe")));
    EXPECT_THAT(log.Messages(), Contains("CVentoDlg::OnButtonStart> Vento Program is Updated, So "
                                         "Start New Program"));
    // The stored "updater" here is no program: its start fails and the user is told.
    ASSERT_EQ(appMessages.size(), 1u);
    EXPECT_THAT(appMessages[0], HasSubstr("Can't Execute Version Management Program, ErrCode = "));
}

TEST_F(SelfUpdateTest, MissingLocalUpdaterIsDownloaded) {
    Serve("KestrelSync.exe", "updater");
    FakeDlg dialog(&app, "1");
    dialog.InitDialogState();
    dialog.OnButtonStart();
    EXPECT_EQ(kstest::ReadFileBytes(Local("KestrelSync.exe")), "updater");
}

TEST_F(SelfUpdateTest, NoUpdaterOnTheServerRunsAsUsual) {
    LocalUpdater("updater v1", 1765000000);
    FakeDlg dialog(&app, "1");
    dialog.InitDialogState();
    dialog.OnButtonStart();
    EXPECT_EQ(dialog.WaitForSyncDone(), kSyncDoneComplete);
    EXPECT_THAT(log.Messages(), Contains("CSyncEngine::IsSelfFileUpdated> GetServerFileInfo() "
                                         "Fail, RetVal = -5"));
    EXPECT_EQ(kstest::ReadFileBytes(Local("KestrelSync.exe")), "updater v1");
}

TEST_F(SelfUpdateTest, BrokenDownloadLeavesTheWorkingUpdater) {
    LocalUpdater("updater v1", 1765000000 - 3600);
    server.SetHandler([this](const HttpRequestSeen& request) {
        HttpScriptedResponse response = server.FolderResponse(request);
        if (request.strTarget.find("KestrelSync.exe") != std::string::npos) {
            response.nStatus = 200;
            response.strReason = "OK";
            response.headers = {{"Last-Modified", kstest::HttpDate(1765000000)}};
            response.strBody = std::string(100000, 'n');
            if (request.strMethod == "GET")
                response.nDropAfter = 50000;
        }
        return response;
    });
    FakeDlg dialog(&app, "1");
    dialog.InitDialogState();
    dialog.OnButtonStart();
    EXPECT_EQ(kstest::ReadFileBytes(Local("KestrelSync.exe")), "updater v1");
    EXPECT_FALSE(kstest::Exists(SelfUpdateTempPath()));
    EXPECT_THAT(log.LevelsAndMessages(),
                Contains("ERROR CSyncEngine::IsSelfFileUpdated> DownloadOneFileFromServer() Fail, "
                         "RetVal = -6"));
    EXPECT_EQ(dialog.WaitForSyncDone(), kSyncDoneComplete); // the ordinary run followed
}

TEST_F(SelfUpdateTest, OtherArgumentsMakeNoCheck) {
    Serve("KestrelSync.exe", "updater v2");
    LocalUpdater("updater v1", 1765000000 - 3600);
    for (const char* argument : {"2", "", "1 "}) {
        FakeDlg dialog(&app, argument);
        dialog.InitDialogState();
        dialog.OnButtonStart();
        dialog.WaitForSyncDone();
        EXPECT_EQ(kstest::ReadFileBytes(Local("KestrelSync.exe")), "updater v1") << argument;
    }
    EXPECT_THAT(log.Messages(), Not(Contains(HasSubstr("IsSelfFileUpdated"))));
}

// Trusted mode: the updater is replaced only by the bytes the verified list names.
TEST_F(SelfUpdateTest, TrustedModeReplacesTheUpdaterOnlyWithTheSignedOne) {
    if (kstest::PkiPath("self/_listfile.txt").empty())
        GTEST_SKIP() << "the test PKI is made by ctest (tests/pki/make-test-pki.sh)";
    ASSERT_TRUE(plat::CopyFileOver(
        kstest::PkiPath("key1.pub"),
        program / ("config" + std::string(1, plat::kPathSep) + "KestrelSync.pem")));
    // A release store serves the updater under its hash, named by the line's local path.
    const std::string hash = Sha256HexOf("updater v2, signed");
    const std::string object = "objects/" + hash.substr(0, 2) + "/" + hash;
    const struct {
        const char* name;
        const char* list; // the signed list served, from the test PKI
        std::string served;
        std::string at; // where the server has it
        const char* expected;
        const char* log;
    } cases[] = {
        {"the signed updater", "self/_listfile.txt", "updater v2, signed", "KestrelSync.exe",
         "updater v2, signed", "Download OK"},
        {"other bytes of the same size", "self/_listfile.txt", "updater v2, EVIL!!",
         "KestrelSync.exe", "updater v1", "SHA-256 Mismatch"},
        {"a list that names no updater", "tree/_listfile.txt", "updater v2, signed",
         "KestrelSync.exe", "updater v1",
         "The Verified List Names No KestrelSync.exe, Updater Not Replaced"},
        {"the signed updater of a release store", "self-store/_listfile.txt", "updater v2, signed",
         object, "updater v2, signed", "Download OK"},
        {"other bytes under the store's name", "self-store/_listfile.txt", "updater v2, EVIL!!",
         object, "updater v1", "SHA-256 Mismatch"},
    };
    for (const auto& c : cases) {
        Serve("_listfile.txt", kstest::ReadFileBytes(kstest::PkiPath(c.list)));
        Serve("_listfile.txt.sig",
              kstest::ReadFileBytes(kstest::PkiPath(std::string(c.list) + ".sig")));
        Serve(c.at, c.served);
        LocalUpdater("updater v1", 1765000000 - 3600);
        plat::WriteProfileString(Ini(), "VENTO", "LIST_SERIAL", "0");
        FakeDlg dialog(&app, "1");
        dialog.InitDialogState();
        dialog.OnButtonStart();
        EXPECT_EQ(kstest::ReadFileBytes(Local("KestrelSync.exe")), c.expected) << c.name;
        EXPECT_THAT(log.Messages(), Contains(HasSubstr(c.log))) << c.name;
        dialog.EndRun();
    }
}

} // namespace
