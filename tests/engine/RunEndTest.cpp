// How a run ends as the settings ask: the result file (also when it cannot be written), the
// fleet report (also to a server that never answers it), and START_ON_SERVER_FAILURE (the
// application starts when the server fails and the installation is whole, not otherwise).
#include "apply/Apply.h"
#include "platform/FileSystem.h"
#include "support/RunFixture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

using ::testing::Contains;
using ::testing::HasSubstr;

class RunEndTest : public kstest::RunFixture {};

kstest::HttpScriptedResponse Unavailable(int nStatus) {
    kstest::HttpScriptedResponse response;
    response.nStatus = nStatus;
    response.strReason = "Unavailable";
    return response;
}

TEST_F(RunEndTest, ResultReportAndStartOnServerFailure) {
    Serve("_listfile.txt", "a.txt\n");
    Serve("a.txt", "hello");
    const struct {
        const char* name;
        bool bReport;
        bool bStartAnyway;
        int nListStatus;     // what the server answers for the list (200: the file)
        bool bPendingApply;  // an apply journal is left in the program folder
        bool bResultBlocked; // a folder stands where the result file goes
        int nOutcome;
        std::size_t nBoxes;
        const char* result;
        const char* logged; // a log line the row must leave
    } cases[] = {
        {"report to a server that never answers it", true, false, 200, false, false,
         kSyncDoneComplete, 0, "\"updated\"", "SendFleetReport> Not Sent"},
        {"a result file that cannot be written", false, false, 200, false, true, kSyncDoneComplete,
         0, nullptr, "last-run.json Not Written"},
        {"server error, start anyway", false, true, 503, false, false, kSyncDoneComplete, 0,
         "\"list-download\"", "The Application Starts In 3 Seconds"},
        {"server error, no setting", false, false, 503, false, false, kSyncDoneNoList, 1,
         "\"failed\"", "Exit Thread Main Function By Failure"},
        {"server error, an apply pending", false, true, 503, true, false, kSyncDoneNoList, 1,
         "\"failed\"", "Exit Thread Main Function By Failure"},
    };
    const std::string result = Local("log/last-run.json");
    for (const auto& c : cases) {
        server.SetHandler([&](const kstest::HttpRequestSeen& request) {
            kstest::HttpScriptedResponse response = server.FolderResponse(request);
            if (request.strTarget.find("/_report?") != std::string::npos)
                response.bStallBeforeHeaders = true;
            else if (request.strTarget.find("_listfile.txt") != std::string::npos &&
                     c.nListStatus != 200)
                response = Unavailable(c.nListStatus);
            return response;
        });
        plat::RemoveFile(Local("a.txt"));
        plat::RemoveFile(result);
        plat::RemoveFolder(result);
        if (c.bResultBlocked) {
            ASSERT_TRUE(plat::CreateFolderChain(result));
        }
        plat::RemoveFile(ApplyJournalPath(app.Path()));
        if (c.bPendingApply) {
            ASSERT_TRUE(plat::CreateFolderChain(StagingFolder(app.Path())));
            ASSERT_TRUE(kstest::WriteFileBytes(ApplyJournalPath(app.Path()), "BEGIN\n"));
        }
        config.m_bReport = c.bReport;
        config.m_bStartOnServerFailure = c.bStartAnyway;
        kstest::FakeView view;
        view.SetMessageBoxAnswer(kIdOk);
        Run(view);
        server.ReleaseStalls();
        EXPECT_THAT(view.Outcomes(), ::testing::ElementsAre(c.nOutcome)) << c.name;
        EXPECT_EQ(view.MessageBoxes().size(), c.nBoxes) << c.name;
        if (c.result != nullptr) {
            EXPECT_THAT(kstest::ReadFileBytes(result), HasSubstr(c.result)) << c.name;
        }
        EXPECT_THAT(log.Messages(), Contains(HasSubstr(c.logged))) << c.name;
    }
}

} // namespace
