// HTTP/1.1 client: one session, one reusable (kept-alive) connection to a server, and HEAD
// or GET requests on it that are never answered from a cache and follow redirects.
//
// Windows uses WinINet; POSIX uses libcurl with one easy handle per connection, so every
// request of a connection travels over the same TCP connection while the server keeps it.
//
// Transport failures (connection refused or dropped, time-outs, protocol errors) are raised
// as CHttpError carrying a message text; everything else is a return value.
#pragma once

#include "platform/HttpProxy.h"

#include <atomic>
#include <cstddef>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace plat {

class CHttpError : public std::runtime_error {
public:
    explicit CHttpError(const std::string& message, int nCode = 0)
        : std::runtime_error(message), m_nCode(nCode) {}
    // The system's or the library's error number, 0 when there is none.
    int Code() const { return m_nCode; }

private:
    int m_nCode;
};

// The code of the CHttpError raised when the stop flag ended a wait.
inline constexpr int kHttpErrStopped = -7;

struct HttpTimeouts {
    // A connection that cannot be made within this time fails.
    int nConnectMs = 30000;
    // A response that delivers nothing (head or body) for this long fails.
    int nReceiveMs = 60000;
    // The head of the final response must be complete this long after the request was sent
    // (interim 1xx answers are no progress).
    int nHeadMs = 60000;
    // A body that arrives slower than nLowSpeedBytes per second for nLowSpeedSeconds fails.
    int nLowSpeedBytes = 100;
    int nLowSpeedSeconds = 60;
    // When set and non-zero, every wait ends within about 100 ms with a CHttpError of code
    // kHttpErrStopped.
    const std::atomic<int>* pStopFlag = nullptr;
    // A PEM file of roots that HTTPS trusts besides the system's (POSIX; the tests' own
    // certificate authority). Windows trusts its certificate stores only.
    std::string strExtraRootsFile;
    // Which proxy requests take (platform/HttpProxy.h); the system's settings by default.
    HttpProxy proxy;
};

class CHttpRequest {
public:
    virtual ~CHttpRequest() = default;
    // Adds a request header line ("Range: bytes=100-") for the next Send. A request of the
    // Parts' own steps adds none.
    virtual void AddHeader(const std::string& line) = 0;
    // Sends the request (no body) and waits for the head of the final response, redirects
    // followed. Raises CHttpError on a transport failure.
    virtual void Send() = 0;
    // The locations of the redirects followed to reach the final response, in order.
    virtual std::vector<std::string> Redirects() const = 0;
    // The final response's status code; false when there is none to read.
    virtual bool QueryStatusCode(int& nStatus) = 0;
    // The text of one header of the final response (name without case); false when absent.
    virtual bool QueryHeader(const std::string& name, std::string& value) = 0;
    // Up to size bytes of the body; 0 at its end. Raises CHttpError on a transport failure
    // (a connection dropped before the announced length, nothing received for the receive
    // time-out).
    virtual std::size_t Read(void* buffer, std::size_t size) = 0;
    // Ends the request; the connection stays open for the next request when the server keeps
    // it. Safe to call more than once; the destructor calls it.
    virtual void Close() = 0;
};

// The answer to one pipelined HEAD (CHttpConnection::PipelineHeads).
struct HttpHeadAnswer {
    int nStatus = 0;                                          // 0: no answer came
    std::vector<std::pair<std::string, std::string>> headers; // those asked to be kept
    // The text of the first header of that name (without case); false when absent.
    bool QueryHeader(const std::string& name, std::string& value) const;
};

class CHttpConnection {
public:
    virtual ~CHttpConnection() = default;
    // A request for verb ("HEAD" or "GET") and objectPath on this connection, HTTP/1.1,
    // with acceptTypes (an array ending with nullptr) as its Accept header, not answered from
    // a cache, keeping the connection alive. The path is sent as given, except that
    // characters a request line cannot carry are escaped the same way on every platform
    // ("\" as "/"; blanks, control characters, "#" and bytes from 0x80 up as %XX; see
    // HttpRequestPath). nullptr when no request could be created.
    virtual std::unique_ptr<CHttpRequest> OpenRequest(const std::string& verb,
                                                      const std::string& objectPath,
                                                      const char* const* acceptTypes) = 0;
    // HEAD requests for objectPaths (escaped as OpenRequest escapes them, with the same
    // Accept and user agent), sent on up to nStreams connections of their own without waiting
    // for each answer (HTTP/1.1 pipelining): answers[i] answers objectPaths[i] with its status
    // and the headers named in keepHeaders, nStatus 0 where none came (for the caller to ask
    // again with OpenRequest). Redirects are not followed and answers never come from a
    // cache. A connection the server ends is opened again for the requests it left; one that
    // brings no answer at all gives them to the others, and when none has answered by the
    // first answers' wait (3 s, or nHeadMs if shorter) all are given up at once. An answer
    // that OpenRequest's client might refuse, and every answer of a connection that gives
    // other than one answer per request (more answers or bytes than asked for, an answer cut
    // off, none in time), stays at nStatus 0. Memory stays bounded whatever the server sends.
    // Only plain HTTP that goes straight to the server is pipelined: false, with nothing
    // sent, over HTTPS or a proxy, when the host has no IPv4 address, or for a connection
    // type that does not pipeline.
    virtual bool PipelineHeads(const std::vector<std::string>& objectPaths,
                               const char* const* acceptTypes,
                               const std::vector<std::string>& keepHeaders, int nStreams,
                               std::vector<HttpHeadAnswer>& answers) {
        (void)objectPaths, (void)acceptTypes, (void)keepHeaders, (void)nStreams, (void)answers;
        return false;
    }
};

class CHttpSession {
public:
    virtual ~CHttpSession() = default;
    // A connection object for host (name or dotted address) and port, over HTTPS when bSecure
    // (the certificate checked against the trusted roots and the host name; redirects stay on
    // HTTPS). It does not contact the server; an unreachable server, or one whose certificate
    // fails the check, is reported by the first request. nullptr when no connection object
    // can be made.
    virtual std::unique_ptr<CHttpConnection> Connect(const std::string& host, int nPort,
                                                     bool bSecure = false) = 0;
};

// A session with the given user-agent name and the proxy of timeouts.proxy: with the system's
// settings loopback addresses never go through a proxy; a fixed server takes every host that
// ProxyFor names, loopback too. Over a proxy HTTPS is tunnelled (CONNECT) and the server's
// certificate is checked as without one. A proxy's refusal of a tunnel (407, 403, ...) is the
// request's final status. nullptr when the system cannot open one.
std::unique_ptr<CHttpSession> OpenHttpSession(const std::string& agent,
                                              const HttpTimeouts& timeouts = HttpTimeouts());

} // namespace plat
