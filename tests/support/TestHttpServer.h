// A scripted HTTP/1.1 server for tests, on 127.0.0.1 with a free port, running on threads of
// the test process (Winsock on Windows, BSD sockets on POSIX). It serves a folder with
// Last-Modified and Content-Length, or answers as a test's handler scripts it: any status,
// headers left out, a body shorter or longer than announced, a connection dropped mid-body,
// a stall, a redirect, raw bytes (once or without end). It counts requests and connections.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kstest {

struct HttpRequestSeen {
    std::string strMethod;
    std::string strTarget; // as sent on the request line
    std::string strVersion;
    std::map<std::string, std::string> headers; // names in lower case
    int nConnection = 0;                        // 1 for the first connection accepted
};

struct HttpScriptedResponse {
    int nStatus = 200;
    std::string strReason = "OK";
    std::vector<std::pair<std::string, std::string>> headers; // sent as given
    std::string strBody;                                      // sent for GET, never for HEAD
    bool bAutoContentLength = true; // add Content-Length of strBody unless headers name one
    std::size_t nDropAfter = std::string::npos;  // close the connection after this many bytes
    std::size_t nStallAfter = std::string::npos; // stop sending after this many body bytes
    bool bStallBeforeHeaders = false;            // never answer
    bool bCloseBeforeHeaders = false;            // close the connection without an answer
    bool bClose = false;                         // close the connection after the response
    int nTrickleMs = 0;       // send the body one byte every nTrickleMs milliseconds
    int nInterimEveryMs = 0;  // answer "100 Continue" every nInterimEveryMs, never the response
    std::string strRaw;       // when not empty: the whole answer, these bytes as they are
    bool bRawEndless = false; // strRaw again and again, as fast as the client takes it, until
                              // the client goes (at most kRawEndlessSeconds)
};

inline constexpr int kRawEndlessSeconds = 60;

class TestHttpServer {
public:
    using Handler = std::function<HttpScriptedResponse(const HttpRequestSeen&)>;

    TestHttpServer();
    ~TestHttpServer();
    TestHttpServer(const TestHttpServer&) = delete;
    TestHttpServer& operator=(const TestHttpServer&) = delete;

    int Port() const { return m_nPort; }

    // Answers every request with handler (the default serves the folder of ServeFolder).
    void SetHandler(Handler handler);

    // Serves files below root (UTF-8 path): GET and HEAD with Last-Modified from the file's
    // time and Content-Length, "Range: bytes=N-" (with If-Range) as 206; 404 for anything
    // else.
    void ServeFolder(const std::string& root);

    // The folder answer for one request, for handlers that change only some requests.
    HttpScriptedResponse FolderResponse(const HttpRequestSeen& request) const;

    // The bytes of response as the server sends it for request (no body for HEAD), for
    // handlers that send an answer other than once (strRaw).
    static std::string ResponseBytes(const HttpRequestSeen& request,
                                     const HttpScriptedResponse& response);

    int RequestCount() const;
    int ConnectionCount() const { return m_nConnections.load(); }
    std::vector<HttpRequestSeen> Requests() const;
    // Why the server ended each connection it ended ("connection 2: closed by the client").
    std::vector<std::string> ConnectionEnds() const;

    // Ends every stall under way (they also end when the server goes away); later ones stall
    // again.
    void ReleaseStalls();

private:
    void AcceptLoop();
    void Serve(std::intptr_t socket, int nConnection);
    bool SendResponse(std::intptr_t socket, const HttpRequestSeen& request,
                      const HttpScriptedResponse& response);
    bool SendRaw(std::intptr_t socket, const HttpScriptedResponse& response);
    void Stall();

    std::intptr_t m_listen;
    int m_nPort = 0;
    std::atomic<bool> m_bStopping{false};
    std::atomic<int> m_nConnections{0};
    std::thread m_acceptThread;
    mutable std::mutex m_mutex;
    std::condition_variable m_stallCv;
    unsigned m_nStallRelease = 0; // counts ReleaseStalls calls; a stall ends when it changes
    Handler m_handler;
    std::string m_strRoot;
    std::vector<HttpRequestSeen> m_requests;
    std::vector<std::string> m_connectionEnds;
    std::vector<std::thread> m_workers;
    std::vector<std::intptr_t> m_openSockets;
};

// RFC 1123 form of a time (seconds since 1970 UTC): "Tue, 15 Nov 1994 08:12:31 GMT".
std::string HttpDate(std::int64_t t);

} // namespace kstest
