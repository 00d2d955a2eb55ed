// The updater as deployment tools run it: "KestrelSync.exe --unattended" from a fresh program
// folder against nginx, on both builds (the Windows program under Wine). Each run must end by
// itself: a window, a message box or a prompt would wait for a person, and the bounded wait
// below would fail the test.
#include "config/SyncConfig.h"
#include "platform/FileSystem.h"
#include "platform/Path.h"
#include "support/ChildProcess.h"
#include "support/Nginx.h"
#include "support/TempDir.h"
#include "support/TestMachine.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace {

using ::testing::HasSubstr;

std::string Native(std::string path) {
    for (char& c : path) {
        if (c == '/')
            c = plat::kPathSep;
    }
    return path;
}

class UnattendedRunTest : public ::testing::Test {
protected:
    kstest::TestMachine machine; // the Windows folders a run looks at, for the child too
    kstest::NginxSite site;
    kstest::TempDir app;

    void SetUp() override {
        if (!site.Skip().empty())
            GTEST_SKIP() << site.Skip();
        ASSERT_TRUE(plat::CreateFolder(app / "config"));
        ASSERT_TRUE(plat::CopyFileOver(KS_UPDATER_PROGRAM, app / "KestrelSync.exe"));
        // The application: a stand-in that records a start, which an unattended run never makes.
        ASSERT_TRUE(plat::CopyFileOver(kstest::FakeAppPath(), app / "Lumen@Forge.exe"));
        Serve("_listfile.txt", "doc/a.txt,doc\\a.txt\n");
        Serve("doc/a.txt", "the document");
        Settings(site.Port(), "");
    }
    void Serve(const std::string& name, const std::string& bytes) const {
        const std::string path = site.ServedPath(name);
        ASSERT_TRUE(plat::CreateFolderChain(path.substr(0, plat::LastSepPos(path))));
        ASSERT_TRUE(kstest::WriteFileBytes(path, bytes));
    }
    void Settings(int nPort, const std::string& more) const {
        ASSERT_TRUE(kstest::WriteFileBytes(
            app / Native("config/KestrelSync.ini"),
            "[VENTO]\r\nSVR_IP_ADDR=127.0.0.1\r\nSVR_PORT_NO=" + std::to_string(nPort) +
                "\r\nDOWNLOAD_BASE_URL=" + site.Base() +
                "\r\nLIST_FILE_NAME=_listfile.txt\r\nREPORT=1\r\n" + more));
    }
    int Run(const std::vector<std::string>& arguments) const {
        kstest::ChildProcess child;
        EXPECT_TRUE(child.Start(app / "KestrelSync.exe", arguments));
        const int nStatus = child.Wait(180000);
        if (nStatus < 0)
            child.Kill();
        return nStatus;
    }
    nlohmann::json LastRun() const {
        return nlohmann::json::parse(kstest::ReadFileBytes(app / Native("log/last-run.json")),
                                     nullptr, false);
    }
    // The report requests nginx logged, as their query texts.
    std::vector<std::string> Reports() const {
        std::vector<std::string> reports;
        for (const kstest::AccessLine& line : site.Requests()) {
            const std::size_t at = line.uri.find("/_report?");
            if (at != std::string::npos)
                reports.push_back(line.uri.substr(at + 9));
        }
        return reports;
    }
};

TEST_F(UnattendedRunTest, UpdatesFindsNothingFailsAndReports) {
    EXPECT_EQ(Run({"--unattended"}), 0);
    EXPECT_EQ(kstest::ReadFileBytes(app / Native("doc/a.txt")), "the document");
    nlohmann::json result = LastRun();
    EXPECT_EQ(result.value("result", ""), "updated") << result.dump();
    EXPECT_EQ(result.value("files", 0), 1);
    EXPECT_FALSE(kstest::Exists(app / "Lumen@Forge.exe.started"));

    EXPECT_EQ(Run({"/unattended"}), 0);
    result = LastRun();
    EXPECT_EQ(result.value("result", ""), "current") << result.dump();
    EXPECT_EQ(result.value("files", -1), 0);

    // The identifier of the report is the one kept in the program folder.
    const std::string id = kstest::ReadFileBytes(app / Native("config/KestrelSync.id"));
    ASSERT_EQ(id.size(), 32u);
    const std::vector<std::string> reports = Reports();
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_THAT(reports[0], HasSubstr("id=" + id + "&serial=&result=updated&cause=&bytes=12&"));
    EXPECT_THAT(reports[1], HasSubstr("result=current"));
    EXPECT_THAT(reports[1], HasSubstr("&v=14.10.6.1"));

    // A server that is not there: a failure, and nobody is asked anything.
    Settings(1, "");
    EXPECT_EQ(Run({"--unattended"}), 1);
    result = LastRun();
    EXPECT_EQ(result.value("result", ""), "failed") << result.dump();
    EXPECT_EQ(result.value("cause", ""), "list-download");

    // The server's updater is newer: the run copy stores it and waits for the copy of the new
    // one, which does the run; the program the user started returns that copy's status.
    Settings(site.Port(), "");
    Serve("KestrelSync.exe", kstest::ReadFileBytes(app / "KestrelSync.exe"));
    ASSERT_TRUE(plat::SetFileModifyTime(app / "KestrelSync.exe", 1000000000));
    EXPECT_EQ(Run({"--unattended"}), 0);
    EXPECT_TRUE(kstest::Exists(app / "KestrelSyncRun2.exe"));
    EXPECT_EQ(LastRun().value("result", ""), "current");

    // Another argument beside the switch: refused, and no run.
    EXPECT_EQ(Run({"--unattended", "x"}), 2);
    EXPECT_EQ(LastRun().value("result", ""), "no-run");
    EXPECT_FALSE(kstest::Exists(app / "Lumen@Forge.exe.started"));
}

} // namespace
