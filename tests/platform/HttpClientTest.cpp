// The HTTP client against the scripted test server, by the same cases on Windows (WinINet
// under Wine) and POSIX (libcurl).
#include "platform/HttpClient.h"
#include "platform/FileSystem.h"
#include "support/TempDir.h"
#include "support/TestHttpServer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace {

plat::HttpTimeouts Timeouts(int nConnectMs, int nReceiveMs) {
    plat::HttpTimeouts timeouts;
    timeouts.nConnectMs = nConnectMs;
    timeouts.nReceiveMs = nReceiveMs;
    return timeouts;
}

using kstest::HttpRequestSeen;
using kstest::HttpScriptedResponse;

const char kAgent[] = "KestrelSync-Test/15.3";
const char* const kAcceptAll[] = {"*/*", nullptr};

// "Tue, 15 Nov 1994 08:12:31 GMT"
constexpr std::int64_t kFileTime = 784887151;

// Reads to the end in blocks of blockSize, checking that no call returns more.
std::string ReadAll(plat::CHttpRequest& request, std::size_t blockSize = 4096) {
    std::string body;
    std::vector<char> block(blockSize);
    for (;;) {
        const std::size_t n = request.Read(block.data(), block.size());
        if (n == 0)
            return body;
        EXPECT_LE(n, blockSize);
        body.append(block.data(), n);
    }
}

std::string HeaderOf(plat::CHttpRequest& request, const std::string& name) {
    std::string value;
    return request.QueryHeader(name, value) ? value : "<absent>";
}

int StatusOf(plat::CHttpRequest& request) {
    int nStatus = -1;
    EXPECT_TRUE(request.QueryStatusCode(nStatus));
    return nStatus;
}

// Byte i of the large body: varies within and across blocks, so a lost, repeated or shifted
// block shows.
char PatternByte(std::uint64_t i) {
    return static_cast<char>(((i * 2654435761u) >> 13) ^ (i >> 12));
}

class HttpClientTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_server.ServeFolder(m_root.Path());
        ASSERT_TRUE(kstest::WriteFileBytes(m_root / "small.txt", "hello world"));
        Reopen(Timeouts(5000, 10000));
    }

    void Reopen(const plat::HttpTimeouts& timeouts) {
        m_connection.reset();
        m_session = plat::OpenHttpSession(kAgent, timeouts);
        ASSERT_NE(m_session, nullptr);
        m_connection = m_session->Connect("127.0.0.1", m_server.Port());
        ASSERT_NE(m_connection, nullptr);
    }

    std::unique_ptr<plat::CHttpRequest> Send(const char* verb, const std::string& path,
                                             const char* const* acceptTypes = kAcceptAll) {
        auto request = m_connection->OpenRequest(verb, path, acceptTypes);
        EXPECT_NE(request, nullptr) << verb << " " << path;
        if (request)
            request->Send();
        return request;
    }

    // The small file, read whole: proves the connection object still carries requests.
    void ExpectSmallFileServed() {
        auto request = Send("GET", "/small.txt");
        ASSERT_NE(request, nullptr);
        EXPECT_EQ(StatusOf(*request), 200);
        EXPECT_EQ(ReadAll(*request), "hello world");
    }

    kstest::TempDir m_root;
    kstest::TestHttpServer m_server;
    std::unique_ptr<plat::CHttpSession> m_session;
    std::unique_ptr<plat::CHttpConnection> m_connection;
};

// ---- Answers ------------------------------------------------------------------------------

TEST_F(HttpClientTest, HeadAndGetOfAServedFile) {
    const std::string content = "[List]\r\nKestrelSync.exe=15.3.3.1\r\n";
    const std::string path = m_root / "업데이트 목록.lst";
    ASSERT_TRUE(kstest::WriteFileBytes(path, content));
    ASSERT_TRUE(plat::SetFileModifyTime(path, kFileTime));
    // The caller encodes the Korean name; the blank is left to the client.
    const std::string target = "/%EC%97%85%EB%8D%B0%EC%9D%B4%ED%8A%B8 %EB%AA%A9%EB%A1%9D.lst";

    auto head = Send("HEAD", target);
    ASSERT_NE(head, nullptr);
    EXPECT_EQ(StatusOf(*head), 200);
    EXPECT_EQ(HeaderOf(*head, "Last-Modified"), "Tue, 15 Nov 1994 08:12:31 GMT");
    EXPECT_EQ(HeaderOf(*head, "Content-Length"), std::to_string(content.size()));
    EXPECT_EQ(ReadAll(*head), "");
    head->Close();

    auto get = Send("GET", target);
    ASSERT_NE(get, nullptr);
    EXPECT_EQ(StatusOf(*get), 200);
    EXPECT_EQ(HeaderOf(*get, "last-modified"), "Tue, 15 Nov 1994 08:12:31 GMT");
    EXPECT_EQ(HeaderOf(*get, "CONTENT-LENGTH"), std::to_string(content.size()));
    EXPECT_EQ(ReadAll(*get, 7), content);
}

TEST_F(HttpClientTest, NotFoundIsAStatusAndMissingHeadersAreFalse) {
    auto request = Send("GET", "/no/such/file.txt");
    ASSERT_NE(request, nullptr);
    EXPECT_EQ(StatusOf(*request), 404);
    std::string value = "unchanged";
    EXPECT_FALSE(request->QueryHeader("Last-Modified", value));
    EXPECT_FALSE(request->QueryHeader("X-Not-Sent", value));
    EXPECT_EQ(value, "unchanged");
    EXPECT_EQ(ReadAll(*request), "not found");
}

TEST_F(HttpClientTest, EmptyBody) {
    ASSERT_TRUE(kstest::WriteFileBytes(m_root / "empty.dat", ""));
    for (const char* verb : {"HEAD", "GET"}) {
        auto request = Send(verb, "/empty.dat");
        ASSERT_NE(request, nullptr);
        EXPECT_EQ(StatusOf(*request), 200) << verb;
        EXPECT_EQ(HeaderOf(*request, "Content-Length"), "0") << verb;
        char byte = 'x';
        EXPECT_EQ(request->Read(&byte, 1), 0u) << verb;
        EXPECT_EQ(request->Read(&byte, 1), 0u) << verb;
    }
    ExpectSmallFileServed();
    EXPECT_EQ(m_server.ConnectionCount(), 1);
}

TEST_F(HttpClientTest, RedirectIsFollowedAndTheFinalAnswerCounts) {
    m_server.SetHandler([this](const HttpRequestSeen& seen) {
        HttpScriptedResponse response;
        if (seen.strTarget == "/old/list.lst") {
            response.nStatus = 302;
            response.strReason = "Found";
            response.headers = {{"Location", "/new/list.lst"}, {"X-Hop", "first"}};
            response.strBody = "moved";
            return response;
        }
        if (seen.strTarget == "/new/list.lst") {
            response.headers = {{"Last-Modified", kstest::HttpDate(kFileTime)}};
            response.strBody = "final body";
            return response;
        }
        return m_server.FolderResponse(seen);
    });
    for (const char* verb : {"HEAD", "GET"}) {
        auto request = Send(verb, "/old/list.lst");
        ASSERT_NE(request, nullptr);
        EXPECT_EQ(StatusOf(*request), 200) << verb;
        EXPECT_EQ(HeaderOf(*request, "Last-Modified"), "Tue, 15 Nov 1994 08:12:31 GMT") << verb;
        EXPECT_EQ(HeaderOf(*request, "Content-Length"), "10") << verb;
        EXPECT_EQ(HeaderOf(*request, "X-Hop"), "<absent>") << verb;
        EXPECT_EQ(ReadAll(*request), std::string(verb) == "GET" ? "final body" : "") << verb;
    }
    std::vector<std::string> seen;
    for (const HttpRequestSeen& request : m_server.Requests())
        seen.push_back(request.strMethod + " " + request.strTarget);
    EXPECT_EQ(seen, (std::vector<std::string>{"HEAD /old/list.lst", "HEAD /new/list.lst",
                                              "GET /old/list.lst", "GET /new/list.lst"}));
}

// ---- The connection -----------------------------------------------------------------------

TEST_F(HttpClientTest, RequestsOfOneConnectionShareOneTcpConnection) {
    ASSERT_TRUE(kstest::WriteFileBytes(m_root / "b.bin", std::string(100000, 'b')));
    {
        auto request = Send("HEAD", "/small.txt");
        ASSERT_NE(request, nullptr);
        EXPECT_EQ(StatusOf(*request), 200);
    }
    {
        auto request = Send("GET", "/b.bin");
        ASSERT_NE(request, nullptr);
        EXPECT_EQ(ReadAll(*request), std::string(100000, 'b'));
    }
    {
        auto request = Send("GET", "/missing.txt");
        ASSERT_NE(request, nullptr);
        EXPECT_EQ(StatusOf(*request), 404);
        EXPECT_EQ(ReadAll(*request), "not found");
    }
    ExpectSmallFileServed();
    EXPECT_EQ(m_server.RequestCount(), 4);
    EXPECT_EQ(m_server.ConnectionCount(), 1);
    for (const HttpRequestSeen& seen : m_server.Requests())
        EXPECT_EQ(seen.nConnection, 1) << seen.strTarget;
}

TEST_F(HttpClientTest, ClosingMidBodyLeavesTheConnectionUsable) {
    ASSERT_TRUE(kstest::WriteFileBytes(m_root / "large.bin", std::string(4000000, 'L')));
    struct Case {
        const char* name;
        bool bExplicitClose;
    } const cases[] = {{"Close", true}, {"destructor", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto request = Send("GET", "/large.bin");
        ASSERT_NE(request, nullptr);
        char block[4096];
        ASSERT_GT(request->Read(block, sizeof block), 0u);
        if (c.bExplicitClose) {
            request->Close();
            request->Close();
            int nStatus = 0;
            EXPECT_FALSE(request->QueryStatusCode(nStatus));
        }
        request.reset();
        ExpectSmallFileServed();
    }
}

TEST_F(HttpClientTest, LargeBodyArrivesWholeInBlocks) {
    constexpr std::uint64_t kSize = 30000000;
    std::string body(kSize, '\0');
    for (std::uint64_t i = 0; i < kSize; ++i)
        body[i] = PatternByte(i);
    m_server.SetHandler([&body](const HttpRequestSeen&) {
        HttpScriptedResponse response;
        response.strBody = body;
        return response;
    });
    auto request = Send("GET", "/large.bin");
    ASSERT_NE(request, nullptr);
    EXPECT_EQ(HeaderOf(*request, "Content-Length"), "30000000");
    std::uint64_t nTotal = 0;
    std::uint64_t nFirstBad = kSize;
    char block[4096];
    for (;;) {
        const std::size_t n = request->Read(block, sizeof block);
        if (n == 0)
            break;
        ASSERT_LE(n, sizeof block);
        for (std::size_t j = 0; j < n && nFirstBad == kSize; ++j) {
            if (nTotal + j >= kSize || block[j] != PatternByte(nTotal + j))
                nFirstBad = nTotal + j;
        }
        nTotal += n;
    }
    EXPECT_EQ(nTotal, kSize);
    EXPECT_EQ(nFirstBad, kSize) << "first wrong byte";
}

// ---- What the server sees -----------------------------------------------------------------

TEST_F(HttpClientTest, RequestLineAgentAndAcceptHeader) {
    const char* const none[] = {nullptr};
    const char* const one[] = {"*/*", nullptr};
    const char* const two[] = {"text/plain", "application/octet-stream", nullptr};
    struct Case {
        const char* name;
        const char* const* acceptTypes;
        const char* expectedAccept; // nullptr: no Accept header
    } const cases[] = {
        {"no types (nullptr)", nullptr, nullptr},
        {"no types (empty list)", none, nullptr},
        {"one type", one, "*/*"},
        {"two types", two, "text/plain, application/octet-stream"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (const char* verb : {"HEAD", "GET"}) {
            auto request = Send(verb, "/small.txt", c.acceptTypes);
            ASSERT_NE(request, nullptr);
            ReadAll(*request);
            const HttpRequestSeen seen = m_server.Requests().back();
            EXPECT_EQ(seen.strMethod, verb);
            EXPECT_EQ(seen.strVersion, "HTTP/1.1");
            const auto agent = seen.headers.find("user-agent");
            ASSERT_NE(agent, seen.headers.end());
            EXPECT_EQ(agent->second, kAgent);
            const auto accept = seen.headers.find("accept");
            if (c.expectedAccept) {
                ASSERT_NE(accept, seen.headers.end());
                EXPECT_EQ(accept->second, c.expectedAccept);
            } else {
                EXPECT_EQ(seen.headers.count("accept"), 0u);
            }
        }
    }
}

TEST_F(HttpClientTest, ObjectPathAsSent) {
    struct Case {
        const char* name;
        std::string path;
        const char* expected;
    } const cases[] = {
        {"encoded by the caller", "/%ED%95%9C%EA%B8%80/%EB%AA%A9%EB%A1%9D.lst",
         "/%ED%95%9C%EA%B8%80/%EB%AA%A9%EB%A1%9D.lst"},
        {"blank", "/Kestrel Sync/list.lst", "/Kestrel%20Sync/list.lst"},
        {"backslashes", "/files\\sub\\a.txt", "/files/sub/a.txt"},
        {"query", "/list.asp?site=1&ver=15.3", "/list.asp?site=1&ver=15.3"},
        {"control characters",
         "/a\tb\x01"
         "c",
         "/a%09b%01c"},
        {"bytes from 0x80", "/\xED\x95\x9C.txt", "/%ED%95%9C.txt"},
        {"hash", "/C#/x.txt", "/C%23/x.txt"},
        {"printable punctuation", "/~!$&()*+,;=:@[]'", "/~!$&()*+,;=:@[]'"},
        {"no leading slash", "list.lst", "/list.lst"},
        {"empty", "", "/"},
    };
    for (const Case& c : cases) {
        auto request = Send("GET", c.path);
        ASSERT_NE(request, nullptr) << c.name;
        ReadAll(*request);
        EXPECT_EQ(m_server.Requests().back().strTarget, c.expected) << c.name;
    }
}

// Sets an environment variable for one test and restores it afterwards.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : m_name(name) {
        const char* old = std::getenv(name);
        m_bHad = old != nullptr;
        if (m_bHad)
            m_old = old;
        Set(value.c_str());
    }
    ~ScopedEnv() { Set(m_bHad ? m_old.c_str() : nullptr); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    void Set(const char* value) {
#ifdef _WIN32
        ::_putenv_s(m_name, value ? value : "");
#else
        if (value)
            ::setenv(m_name, value, 1);
        else
            ::unsetenv(m_name);
#endif
    }

    const char* m_name;
    std::string m_old;
    bool m_bHad = false;
};

TEST_F(HttpClientTest, LoopbackNeverGoesThroughAProxy) {
    int nDeadPort = 0;
    {
        kstest::TestHttpServer gone;
        nDeadPort = gone.Port();
    }
    const std::string proxy = "http://127.0.0.1:" + std::to_string(nDeadPort);
    ScopedEnv lower("http_proxy", proxy);
    ScopedEnv upper("HTTP_PROXY", proxy);
    ScopedEnv noProxy("no_proxy", "");
    Reopen(Timeouts(5000, 10000));
    ExpectSmallFileServed();
}

// ---- Pipelined HEADs ----------------------------------------------------------------------

TEST_F(HttpClientTest, PipelinedHeadsAnswerEveryPathWhateverTheServerDoesWithItsConnections) {
    constexpr int kPaths = 150; // more than one stream keeps in flight
    std::vector<std::string> paths;
    for (int i = 0; i < kPaths; ++i) {
        const std::string name = "p" + std::to_string(i) + ".bin";
        ASSERT_TRUE(
            kstest::WriteFileBytes(m_root / name, std::string(static_cast<std::size_t>(i), 'x')));
        paths.push_back("/" + name);
    }
    paths[7] = "/missing.bin";
    const std::vector<std::string> kKeep = {"Content-Length", "last-modified"};
    using Script = std::function<void(HttpScriptedResponse&, const HttpRequestSeen&, int nRequest)>;
    const struct Case {
        const char* name;
        Script script;
    } cases[] = {
        {"every connection kept", nullptr},
        {"every tenth answer ends its connection",
         [](HttpScriptedResponse& r, const HttpRequestSeen&, int n) { r.bClose = n % 10 == 0; }},
        {"every answer ends its connection",
         [](HttpScriptedResponse& r, const HttpRequestSeen&, int) { r.bClose = true; }},
        {"the second connection closed without an answer",
         [](HttpScriptedResponse& r, const HttpRequestSeen& q, int) {
             r.bCloseBeforeHeaders = q.nConnection == 2;
         }},
        {"the second and third connections held without an answer",
         [](HttpScriptedResponse& r, const HttpRequestSeen& q, int) {
             r.bStallBeforeHeaders = q.nConnection > 1;
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        kstest::TestHttpServer server;
        server.ServeFolder(m_root.Path());
        std::atomic<int> nRequests{0};
        server.SetHandler([&](const HttpRequestSeen& request) {
            HttpScriptedResponse response = server.FolderResponse(request);
            if (request.strTarget == "/p9.bin") {
                response.nStatus = 302; // not followed: the answer is the redirect
                response.headers = {{"Location", "/p10.bin"}};
            }
            if (c.script)
                c.script(response, request, ++nRequests);
            return response;
        });
        auto connection = m_session->Connect("127.0.0.1", server.Port());
        ASSERT_NE(connection, nullptr);
        std::vector<plat::HttpHeadAnswer> answers;
        ASSERT_TRUE(connection->PipelineHeads(paths, kAcceptAll, kKeep, 3, answers));
        server.ReleaseStalls();
        ASSERT_EQ(answers.size(), paths.size());
        for (int i = 0; i < kPaths; ++i) {
            const plat::HttpHeadAnswer& answer = answers[static_cast<std::size_t>(i)];
            const int expected = i == 7 ? 404 : i == 9 ? 302 : 200;
            ASSERT_EQ(answer.nStatus, expected) << paths[static_cast<std::size_t>(i)];
            std::string length;
            std::string modified;
            if (expected == 200) {
                EXPECT_TRUE(answer.QueryHeader("content-length", length));
                EXPECT_EQ(length, std::to_string(i));
                EXPECT_TRUE(answer.QueryHeader("Last-Modified", modified));
            }
            EXPECT_LE(answer.headers.size(), 2u); // only the headers asked for
        }
        EXPECT_LE(server.ConnectionCount(), c.script ? kPaths + 3 : 3);
        // The requests are those of OpenRequest.
        const HttpRequestSeen seen = server.Requests().front();
        EXPECT_EQ(seen.strMethod, "HEAD");
        EXPECT_EQ(seen.strVersion, "HTTP/1.1");
        EXPECT_EQ(seen.headers.at("user-agent"), kAgent);
        EXPECT_EQ(seen.headers.at("accept"), "*/*");
        EXPECT_EQ(seen.headers.at("host"), "127.0.0.1:" + std::to_string(server.Port()));
    }
}

// Path i ("/h<i>.bin", 100 + i bytes, kFileTime + i) is unknown, to be asked again one by one,
// or has its own answer; bNone: it must be unknown.
void ExpectOwnAnswerOrNone(const plat::HttpHeadAnswer& answer, int i, bool bNone) {
    if (bNone || answer.nStatus == 0) {
        EXPECT_EQ(answer.nStatus, 0);
        return;
    }
    std::string length;
    std::string modified;
    EXPECT_EQ(answer.nStatus, 200);
    EXPECT_TRUE(answer.QueryHeader("Content-Length", length));
    EXPECT_EQ(length, std::to_string(100 + i));
    EXPECT_TRUE(answer.QueryHeader("Last-Modified", modified));
    EXPECT_EQ(modified, kstest::HttpDate(kFileTime + i));
}

TEST_F(HttpClientTest, PipelinedHeadsTakeNoAnswerTheOneByOneClientMightRefuse) {
    constexpr int kPaths = 12;
    std::vector<std::string> paths;
    for (int i = 0; i < kPaths; ++i) {
        const std::string name = "h" + std::to_string(i) + ".bin";
        ASSERT_TRUE(kstest::WriteFileBytes(m_root / name, std::string(100u + i, 'x')));
        ASSERT_TRUE(plat::SetFileModifyTime(m_root / name, kFileTime + i));
        paths.push_back("/" + name);
    }
    plat::HttpTimeouts timeouts = Timeouts(5000, 10000);
    timeouts.nHeadMs = 1000;
    Reopen(timeouts);
    const std::vector<std::string> kKeep = {"Content-Length", "Last-Modified"};
    // Scripts the answer to paths[nPath]; the answer is that path's unless the script says.
    using Script = std::function<void(HttpScriptedResponse&, const HttpRequestSeen&, int nPath)>;
    const auto twice = [](HttpScriptedResponse& r, const HttpRequestSeen& q, int) {
        r.strRaw = kstest::TestHttpServer::ResponseBytes(q, r) +
                   kstest::TestHttpServer::ResponseBytes(q, r);
    };
    const struct Case {
        const char* name;
        int nStreams;
        int nBadPath; // the path whose answer no client may take, -1 for every path
        Script script;
    } cases[] = {
        {"a negative length", 3, 5,
         [](HttpScriptedResponse& r, const HttpRequestSeen&, int) {
             r.headers.emplace_back("Content-Length", "-5");
         }},
        {"a NUL byte in the length", 3, 5,
         [](HttpScriptedResponse& r, const HttpRequestSeen&, int nPath) {
             r.headers.emplace_back("Content-Length",
                                    std::string("1\0", 2) + std::to_string(100 + nPath));
         }},
        {"two lengths that disagree", 3, 5,
         [](HttpScriptedResponse& r, const HttpRequestSeen&, int nPath) {
             r.headers.emplace_back("Content-Length", std::to_string(100 + nPath));
             r.headers.emplace_back("Content-Length", "7");
         }},
        {"a folded header line", 3, 5,
         [](HttpScriptedResponse& r, const HttpRequestSeen&, int) {
             r.headers.emplace_back("X-Note", "one\r\n two");
         }},
        {"bytes after the last answer", 3, 11,
         [](HttpScriptedResponse& r, const HttpRequestSeen& q, int) {
             r.strRaw = kstest::TestHttpServer::ResponseBytes(q, r) + "HTTP/1.1 200";
         }},
        {"every answer sent twice", 3, -1, twice},
        {"interim answers without end", 3, 0,
         [](HttpScriptedResponse& r, const HttpRequestSeen&, int) {
             r.strRaw = "HTTP/1.1 100 Continue\r\n\r\n";
             r.bRawEndless = true;
         }},
        {"no stream ever answers", 7, -1,
         [](HttpScriptedResponse& r, const HttpRequestSeen&, int) {
             r.bStallBeforeHeaders = true;
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        kstest::TestHttpServer server;
        server.ServeFolder(m_root.Path());
        server.SetHandler([&](const HttpRequestSeen& request) {
            HttpScriptedResponse response = server.FolderResponse(request);
            const int nPath = std::atoi(request.strTarget.c_str() + 2);
            if (c.nBadPath < 0 || nPath == c.nBadPath)
                c.script(response, request, nPath);
            return response;
        });
        auto connection = m_session->Connect("127.0.0.1", server.Port());
        ASSERT_NE(connection, nullptr);
        std::vector<plat::HttpHeadAnswer> answers;
        const auto start = std::chrono::steady_clock::now();
        ASSERT_TRUE(connection->PipelineHeads(paths, kAcceptAll, kKeep, c.nStreams, answers));
        // Only a guard against a hang: the answers' waits are 1 s.
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
        server.ReleaseStalls();
        ASSERT_EQ(answers.size(), paths.size());
        for (int i = 0; i < kPaths; ++i) {
            SCOPED_TRACE(paths[static_cast<std::size_t>(i)]);
            ExpectOwnAnswerOrNone(answers[static_cast<std::size_t>(i)], i,
                                  c.nBadPath < 0 || i == c.nBadPath);
        }
        // A stream given up hands on no path that another then waits for in turn.
        std::map<std::string, int> asked;
        for (const HttpRequestSeen& request : server.Requests())
            EXPECT_EQ(++asked[request.strTarget], 1) << request.strTarget;
    }
}

TEST_F(HttpClientTest, PipelinedHeadsNeverGoAroundAProxyOrTls) {
    std::vector<plat::HttpHeadAnswer> answers;
#ifndef _WIN32
    ScopedEnv proxy("http_proxy", "http://192.0.2.1:3128");
    Reopen(Timeouts(5000, 10000));
    auto remote = m_session->Connect("192.0.2.1", 80);
    ASSERT_NE(remote, nullptr);
    EXPECT_FALSE(remote->PipelineHeads({"/small.txt", "/small.txt"}, kAcceptAll, {}, 2, answers));
#endif
    auto secure = m_session->Connect("127.0.0.1", m_server.Port(), true);
    ASSERT_NE(secure, nullptr);
    EXPECT_FALSE(secure->PipelineHeads({"/small.txt", "/small.txt"}, kAcceptAll, {}, 2, answers));
}

// ---- Transport failures -------------------------------------------------------------------

TEST_F(HttpClientTest, RefusedConnectionRaises) {
    int nPort = 0;
    {
        kstest::TestHttpServer gone;
        nPort = gone.Port();
    }
    auto connection = m_session->Connect("127.0.0.1", nPort);
    ASSERT_NE(connection, nullptr);
    auto request = connection->OpenRequest("HEAD", "/small.txt", kAcceptAll);
    ASSERT_NE(request, nullptr);
    try {
        request->Send();
        FAIL() << "no error from a port without a listener";
    } catch (const plat::CHttpError& error) {
        EXPECT_STRNE(error.what(), "");
        EXPECT_NE(error.Code(), 0);
    }
}

TEST_F(HttpClientTest, ConnectionClosedWithoutAnAnswerRaises) {
    m_server.SetHandler([](const HttpRequestSeen&) {
        HttpScriptedResponse response;
        response.bCloseBeforeHeaders = true;
        return response;
    });
    for (const char* verb : {"HEAD", "GET"}) {
        auto request = m_connection->OpenRequest(verb, "/small.txt", kAcceptAll);
        ASSERT_NE(request, nullptr);
        EXPECT_THROW(request->Send(), plat::CHttpError) << verb;
        int nStatus = 0;
        EXPECT_FALSE(request->QueryStatusCode(nStatus)) << verb;
    }
}

TEST_F(HttpClientTest, BodyEndingBeforeItsLengthRaisesFromRead) {
    struct Case {
        const char* name;
        HttpScriptedResponse response;
        std::size_t nBytesSent;
    };
    std::vector<Case> cases(2);
    cases[0].name = "dropped mid-body";
    cases[0].response.strBody = std::string(100000, 'd');
    cases[0].response.nDropAfter = 5000;
    cases[0].nBytesSent = 5000;
    cases[1].name = "shorter than announced, then closed";
    cases[1].response.headers = {{"Content-Length", "100"}};
    cases[1].response.strBody = std::string(50, 's');
    cases[1].response.bClose = true;
    cases[1].nBytesSent = 50;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const HttpScriptedResponse response = c.response;
        m_server.SetHandler([response](const HttpRequestSeen&) { return response; });
        auto request = Send("GET", "/cut.bin");
        ASSERT_NE(request, nullptr);
        EXPECT_EQ(StatusOf(*request), 200);
        std::size_t nRead = 0;
        try {
            char block[4096];
            while (const std::size_t n = request->Read(block, sizeof block))
                nRead += n;
            FAIL() << "the body ended quietly after " << nRead << " bytes";
        } catch (const plat::CHttpError& error) {
            EXPECT_STRNE(error.what(), "");
        }
        EXPECT_LE(nRead, c.nBytesSent);
        // The failure stays: the body is not reported as complete afterwards.
        char byte;
        EXPECT_THROW(request->Read(&byte, 1), plat::CHttpError);
    }
}

TEST_F(HttpClientTest, StallEndsAfterTheReceiveTimeout) {
    m_server.SetHandler([this](const HttpRequestSeen& seen) {
        HttpScriptedResponse response;
        if (seen.strTarget == "/stall-before-head") {
            response.bStallBeforeHeaders = true;
        } else if (seen.strTarget == "/stall-mid-body") {
            response.strBody = std::string(100000, 'x');
            response.nStallAfter = 1000;
        } else {
            return m_server.FolderResponse(seen);
        }
        return response;
    });
    Reopen(Timeouts(5000, 1000));
    struct Case {
        const char* path;
        bool bHeadArrives;
    } const cases[] = {{"/stall-before-head", false}, {"/stall-mid-body", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const auto start = std::chrono::steady_clock::now();
        auto request = m_connection->OpenRequest("GET", c.path, kAcceptAll);
        ASSERT_NE(request, nullptr);
        bool bSent = false;
        try {
            request->Send();
            bSent = true;
            EXPECT_EQ(StatusOf(*request), 200);
            ReadAll(*request);
            FAIL() << "the stalled body ended without an error";
        } catch (const plat::CHttpError& error) {
            EXPECT_STRNE(error.what(), "");
        }
        EXPECT_EQ(bSent, c.bHeadArrives);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
        request.reset();
        ExpectSmallFileServed();
    }
}

} // namespace
