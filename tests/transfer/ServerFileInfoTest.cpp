// Server file information against the scripted test server, and the cases no real server
// produces against a scripted connection.
#include "engine/SyncEngine.h"
#include "support/LogCapture.h"
#include "support/TestHttpServer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

using kstest::HttpRequestSeen;
using kstest::HttpScriptedResponse;
using ::testing::AllOf;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

class ServerFileInfoTest : public ::testing::Test {
protected:
    kstest::LogCapture log;
    kstest::TestHttpServer server;
    CSyncConfig config{"none.ini"};
    CSyncEngine engine;

    ServerFileInfoTest() {
        config.m_strServerIp = "127.0.0.1";
        config.m_nServerPort = server.Port();
        config.m_strDownloadBaseUrl = "lumen/prod";
        engine.m_httpTimeouts.nReceiveMs = 1000;
        EXPECT_EQ(engine.InitSyncEngine(&config), 0);
    }
    void Answer(HttpScriptedResponse response) {
        server.SetHandler([response](const HttpRequestSeen&) { return response; });
    }
    static HttpScriptedResponse Ok(std::vector<std::pair<std::string, std::string>> headers) {
        HttpScriptedResponse response;
        response.headers = std::move(headers);
        response.bAutoContentLength = false;
        return response;
    }
};

TEST_F(ServerFileInfoTest, TimeAndSizeFromTheHeaders) {
    Answer(Ok({{"Last-Modified", "Tue, 15 Nov 1994 08:12:31 GMT"}, {"Content-Length", "1234"}}));
    std::string time;
    int size = 0;
    EXPECT_EQ(engine.GetServerFileInfo("lumen/prod/bin/main.exe", time, size), 0);
    EXPECT_EQ(time, "19941115171231");
    EXPECT_EQ(size, 1234);
    const std::vector<HttpRequestSeen> requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].strMethod, "HEAD");
    EXPECT_EQ(requests[0].strVersion, "HTTP/1.1");
    EXPECT_THAT(requests[0].strTarget, HasSubstr("lumen/prod/bin/main.exe"));
    EXPECT_EQ(requests[0].headers.at("user-agent"), "Vento");
    EXPECT_EQ(requests[0].headers.at("accept"),
              "image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, "
              "application/x-shockwave-flash, application/vnd.ms-excel, "
              "application/vnd.ms-powerpoint, application/msword, */*");
    EXPECT_THAT(log.Messages(), IsEmpty());
}

TEST_F(ServerFileInfoTest, ItemBelowTheDownloadBase) {
    Answer(Ok({{"Last-Modified", "Wed, 31 Dec 2014 20:00:00 GMT"}, {"Content-Length", "77"}}));
    DownFileItem item;
    item.m_strServerFile = "한글 폴더/파일 1.dll";
    EXPECT_EQ(engine.GetItemServerFileInfo(item), 0);
    EXPECT_EQ(item.m_strModifyTime, "20150101050000");
    EXPECT_EQ(item.m_strFileSize, "77");
    const std::string target = server.Requests().at(0).strTarget;
    // Korean as escaped UTF-8; the blank as the HTTP client sends it.
    EXPECT_EQ(target, "/lumen/prod/%ED%95%9C%EA%B8%80%20%ED%8F%B4%EB%8D%94/"
                      "%ED%8C%8C%EC%9D%BC%201.dll");
}

TEST_F(ServerFileInfoTest, FailureCodesLeaveTheItemAlone) {
    struct Case {
        HttpScriptedResponse response;
        int expected;
        std::string time; // the time output afterwards
    };
    HttpScriptedResponse notFound;
    notFound.nStatus = 404;
    notFound.strReason = "Not Found";
    const Case cases[] = {
        {notFound, -5, ""},
        {Ok({{"Content-Length", "10"}}), -3, ""},
        {Ok({{"Last-Modified", "Tue, 15 Nov 1994 08:12:31 GMT"}}), -4, "19941115171231"},
    };
    for (const Case& c : cases) {
        Answer(c.response);
        DownFileItem item;
        item.m_strServerFile = "a.dll";
        item.m_strModifyTime = "old";
        item.m_strFileSize = "9";
        EXPECT_EQ(engine.GetItemServerFileInfo(item), c.expected);
        EXPECT_EQ(item.m_strModifyTime, "old");
        EXPECT_EQ(item.m_strFileSize, "9");
        std::string time;
        int size = 0;
        EXPECT_EQ(engine.GetServerFileInfo("lumen/prod/a.dll", time, size), c.expected);
        EXPECT_EQ(time, c.time);
    }
    EXPECT_THAT(log.Messages(),
                ElementsAre("CSyncEngine::GetServerFileInfo> File(lumen/prod/a.dll) "
                            "dwStatusCode = 404",
                            "CSyncEngine::GetServerFileInfo> File(lumen/prod/a.dll) "
                            "dwStatusCode = 404"));
    EXPECT_EQ(server.ConnectionCount(), 1);
}

TEST_F(ServerFileInfoTest, RedirectIsFollowed) {
    server.SetHandler([](const HttpRequestSeen& request) {
        HttpScriptedResponse response;
        if (request.strTarget.find("old") != std::string::npos) {
            response.nStatus = 302;
            response.strReason = "Found";
            response.headers = {{"Location", "/lumen/prod/new.dll"}};
        } else {
            response.headers = {{"Last-Modified", "Tue, 15 Nov 1994 08:12:31 GMT"}};
            response.strBody = "12345";
        }
        return response;
    });
    std::string time;
    int size = 0;
    EXPECT_EQ(engine.GetServerFileInfo("lumen/prod/old.dll", time, size), 0);
    EXPECT_EQ(size, 5);
    EXPECT_EQ(server.RequestCount(), 2);
    EXPECT_THAT(log.LevelsAndMessages(),
                Contains(AllOf(HasSubstr("INFO  CSyncEngine::GetServerFileInfo> Redirected, "
                                         "Location = "),
                               EndsWith("/lumen/prod/new.dll"))));
}

TEST_F(ServerFileInfoTest, TransportErrorIsLogged) {
    HttpScriptedResponse drop;
    drop.bCloseBeforeHeaders = true;
    Answer(drop);
    std::string time;
    int size = 0;
    EXPECT_EQ(engine.GetServerFileInfo("lumen/prod/a.dll", time, size), -9);
    const std::vector<std::string> lines = log.LevelsAndMessages();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_THAT(lines[0],
                HasSubstr("ERROR CCobaltSyncThread::GetServerFileInfo>> Exception Msg = "));
    EXPECT_GT(lines[0].size(), std::string("ERROR CCobaltSyncThread::GetServerFileInfo>> "
                                           "Exception Msg = ")
                                   .size());
}

TEST_F(ServerFileInfoTest, UnreachableServer) {
    CSyncConfig closed = config;
    {
        kstest::TestHttpServer gone; // a port that was free a moment ago
        closed.m_nServerPort = gone.Port();
    }
    CSyncEngine other;
    ASSERT_EQ(other.InitSyncEngine(&closed), 0); // nothing is contacted yet
    std::string time;
    int size = 0;
    EXPECT_EQ(other.GetServerFileInfo("lumen/prod/a.dll", time, size), -9);
}

TEST_F(ServerFileInfoTest, SequenceOfRequestsUsesOneConnection) {
    Answer(Ok({{"Last-Modified", "Tue, 15 Nov 1994 08:12:31 GMT"}, {"Content-Length", "1"}}));
    for (int i = 0; i < 5; ++i) {
        std::string time;
        int size = 0;
        EXPECT_EQ(engine.GetServerFileInfo("lumen/prod/f" + std::to_string(i), time, size), 0);
    }
    EXPECT_EQ(server.RequestCount(), 5);
    EXPECT_EQ(server.ConnectionCount(), 1);
}

// A connection whose requests answer as a test scripts them.
class ScriptedConnection : public plat::CHttpConnection {
public:
    bool bNoRequest = false;
    bool bNoStatus = false;
    std::string strContentLength = "1";

    std::unique_ptr<plat::CHttpRequest> OpenRequest(const std::string&, const std::string&,
                                                    const char* const*) override {
        if (bNoRequest)
            return nullptr;
        return std::make_unique<Request>(*this);
    }

private:
    class Request : public plat::CHttpRequest {
    public:
        explicit Request(const ScriptedConnection& owner) : m_owner(owner) {}
        void Send() override {}
        std::vector<std::string> Redirects() const override { return {}; }
        void AddHeader(const std::string&) override {}
        bool QueryStatusCode(int& nStatus) override {
            nStatus = 200;
            return !m_owner.bNoStatus;
        }
        bool QueryHeader(const std::string& name, std::string& value) override {
            value = name == "Content-Length" ? m_owner.strContentLength
                                             : "Tue, 15 Nov 1994 08:12:31 GMT";
            return true;
        }
        std::size_t Read(void*, std::size_t) override { return 0; }
        void Close() override {}

    private:
        const ScriptedConnection& m_owner;
    };
};

TEST(ServerFileInfoScripted, CasesNoServerProduces) {
    kstest::LogCapture log;
    CSyncConfig config("none.ini");
    CSyncEngine engine;
    engine.m_pConfig = &config;
    auto connection = std::make_unique<ScriptedConnection>();
    ScriptedConnection& scripted = *connection;
    engine.m_connection.Adopt(std::move(connection));

    std::string time;
    int size = -1;
    scripted.strContentLength = "abc";
    EXPECT_EQ(engine.GetServerFileInfo("a", time, size), 0);
    EXPECT_EQ(size, 0);
    scripted.bNoStatus = true;
    EXPECT_EQ(engine.GetServerFileInfo("a", time, size), -2);
    scripted.bNoRequest = true;
    EXPECT_EQ(engine.GetServerFileInfo("a", time, size), -1);
    DownFileItem item;
    EXPECT_EQ(engine.DownloadOneFileFromServer(item, 1, 1), -1);
    EXPECT_THAT(log.Messages(),
                ElementsAre("CSyncEngine::GetServerFileInfo> QueryInfoStatusCode() Return = 0",
                            "CCobaltSyncEngine::DownloadOneFileFromServer> File URL = "
                            "lumen/version/forge/prod/master/",
                            "CCobaltSyncEngine::DownloadOneFileFromServer> OpenRequest() Return "
                            "NULL"));
}

} // namespace
