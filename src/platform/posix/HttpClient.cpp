// POSIX HTTP client through libcurl. A connection owns one easy handle and one multi handle
// (whose connection cache keeps the TCP connection between requests). The body is pulled:
// Read drives the transfer only until it has bytes for the caller, and the write callback
// pauses the transfer while the small buffer is full, so a body never sits in memory whole.
#include "platform/HttpClient.h"
#include "platform/HttpPath.h"
#include "platform/HttpPipeline.h"

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

namespace plat {

namespace {

using Clock = std::chrono::steady_clock;

// Body bytes held between the transfer and Read; one more callback chunk may come on top.
constexpr std::size_t kBufferLimit = 64 * 1024;
constexpr long kMaxRedirects = 30;
// Longest single wait in curl_multi_poll, so that the time-outs and the stop flag are checked
// in time.
constexpr int kPollSliceMs = 100;

class CCurlGlobal {
public:
    CCurlGlobal() : m_bReady(::curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK) {}
    ~CCurlGlobal() {
        if (m_bReady)
            ::curl_global_cleanup();
    }
    CCurlGlobal(const CCurlGlobal&) = delete;
    CCurlGlobal& operator=(const CCurlGlobal&) = delete;
    bool Ready() const { return m_bReady; }

private:
    bool m_bReady;
};

bool CurlReady() {
    static const CCurlGlobal global;
    return global.Ready();
}

struct EasyCleanup {
    void operator()(CURL* easy) const { ::curl_easy_cleanup(easy); }
};
struct MultiCleanup {
    void operator()(CURLM* multi) const { ::curl_multi_cleanup(multi); }
};
struct SlistFree {
    void operator()(curl_slist* list) const { ::curl_slist_free_all(list); }
};
using CCurlEasy = std::unique_ptr<CURL, EasyCleanup>;
using CCurlMulti = std::unique_ptr<CURLM, MultiCleanup>;
using CCurlList = std::unique_ptr<curl_slist, SlistFree>;

std::string Trim(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return std::string();
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

class CCurlRequest;

struct CurlConnection {
    CCurlMulti multi;
    CCurlEasy easy;
    std::string strBaseUrl; // "http://host:port" or "https://host:port"
    bool bSecure = false;
    bool bLoopback = false;
    std::string strHost;
    int nPort = 0;
    std::string strAgent;
    HttpTimeouts timeouts;
    // The request whose transfer the easy handle carries now, if any.
    CCurlRequest* pActive = nullptr;
    // The body buffer of the connection's last request, kept for the next one: freed and
    // grown again for each file, its pages would be given back and faulted in anew each time.
    std::string spareBuffer;
};

class CCurlRequest : public CHttpRequest {
public:
    CCurlRequest(std::shared_ptr<CurlConnection> connection, std::string verb, std::string target,
                 std::string accept)
        : m_connection(std::move(connection)), m_strVerb(std::move(verb)),
          m_strTarget(std::move(target)), m_strAccept(std::move(accept)) {}
    ~CCurlRequest() override { Release(); }

    void Send() override {
        if (m_failure)
            throw *m_failure;
        if (m_bClosed)
            throw CHttpError("The request is closed");
        Detach();
        if (m_connection->pActive)
            m_connection->pActive->Supersede();
        if (m_buffer.capacity() < m_connection->spareBuffer.capacity())
            m_buffer.swap(m_connection->spareBuffer);
        ResetResponse();
        Configure();
        const CURLMcode added = ::curl_multi_add_handle(Multi(), Easy());
        if (added != CURLM_OK)
            Fail(CHttpError(::curl_multi_strerror(added), static_cast<int>(added)));
        m_bAttached = true;
        m_connection->pActive = this;
        const auto headDeadline =
            Clock::now() + std::chrono::milliseconds(m_connection->timeouts.nHeadMs);
        Drive([this] { return m_bHeadDone; }, &headDeadline);
        if (!m_bHeadDone && !TakeProxyRefusal())
            Fail(ResultError(m_result != CURLE_OK ? m_result : CURLE_GOT_NOTHING));
    }

    std::vector<std::string> Redirects() const override { return m_redirects; }

    void AddHeader(const std::string& line) override { m_extraHeaders.push_back(line); }

    bool QueryStatusCode(int& nStatus) override {
        if (!HasAnswer())
            return false;
        nStatus = m_nStatus;
        return true;
    }

    bool QueryHeader(const std::string& name, std::string& value) override {
        return HasAnswer() && FindHeader(name, value);
    }

    std::size_t Read(void* buffer, std::size_t size) override {
        if (m_failure)
            throw *m_failure;
        if (m_bClosed)
            throw CHttpError("The request is closed");
        if (size == 0 || !m_bHeadDone)
            return 0;
        for (;;) {
            const std::size_t pending = m_buffer.size() - m_nBufferPos;
            if (pending > 0) {
                const std::size_t n = std::min(size, pending);
                std::memcpy(buffer, m_buffer.data() + m_nBufferPos, n);
                m_nBufferPos += n;
                return n;
            }
            if (m_bDone) {
                if (m_result != CURLE_OK)
                    Fail(ResultError(m_result));
                if (m_nBodyLength >= 0 && m_nBodyReceived < m_nBodyLength)
                    Fail(ResultError(CURLE_PARTIAL_FILE));
                return 0;
            }
            if (m_bPaused) {
                m_bPaused = false;
                // May hand the held-back data to OnBody at once.
                const CURLcode resumed = ::curl_easy_pause(Easy(), CURLPAUSE_CONT);
                if (resumed != CURLE_OK)
                    Fail(ResultError(resumed));
                continue;
            }
            Drive([this] { return m_buffer.size() > m_nBufferPos || m_bPaused; });
        }
    }

    void Close() override { Release(); }

private:
    // Close, which the destructor runs too (a virtual call there would be resolved statically).
    void Release() {
        if (m_bAttached && m_bHeadDone && AllArrived()) {
            // A response that has fully arrived ends normally and leaves the connection cached.
            int running = 0;
            ::curl_multi_perform(Multi(), &running);
            CollectDone();
        }
        // A transfer removed before its end closes its TCP connection; the next request on
        // this connection opens a new one.
        Detach();
        m_bClosed = true;
        if (m_buffer.capacity() > m_connection->spareBuffer.capacity())
            m_buffer.swap(m_connection->spareBuffer);
        std::string().swap(m_buffer);
        m_nBufferPos = 0;
    }

    // Like a closed WinINet handle, a closed or failed request has no answer to show.
    bool HasAnswer() const { return m_bHeadDone && !m_bClosed && !m_failure; }

    bool FindHeader(const std::string& name, std::string& value) const {
        for (const auto& header : m_headers) {
            if (EqualNoCase(header.first, name)) {
                value = header.second;
                return true;
            }
        }
        return false;
    }

    CURL* Easy() const { return m_connection->easy.get(); }
    CURLM* Multi() const { return m_connection->multi.get(); }

    // Another request of the connection takes the easy handle over.
    void Supersede() {
        Detach();
        if (!m_failure && !m_bDone)
            m_failure = std::make_unique<CHttpError>(
                "The request was ended by another request on the same connection");
    }

    void ResetResponse() {
        m_bHeadDone = false;
        m_bDone = false;
        m_bPaused = false;
        m_bConnected = false;
        m_result = CURLE_OK;
        m_nStatus = 0;
        m_nPendingStatus = 0;
        m_headers.clear();
        m_pendingHeaders.clear();
        m_proxyRefusal.clear();
        m_redirects.clear();
        m_buffer.clear();
        m_nBufferPos = 0;
        m_nBodyLength = -1;
        m_nBodyReceived = 0;
        m_errorBuffer[0] = '\0';
    }

    void Configure() {
        CURL* easy = Easy();
        ::curl_easy_reset(easy);
        const std::string url = m_connection->strBaseUrl + m_strTarget;
        m_requestHeaders.reset(::curl_slist_append(nullptr, m_strAccept.c_str()));
        bool bHeaders = m_requestHeaders != nullptr;
        for (const std::string& line : m_extraHeaders) {
            // Appending to a list that has a head returns that head, or nullptr on failure.
            bHeaders = bHeaders && ::curl_slist_append(m_requestHeaders.get(), line.c_str());
        }
        const HttpTimeouts& timeouts = m_connection->timeouts;
        bool bOk =
            ::curl_easy_setopt(easy, CURLOPT_URL, url.c_str()) == CURLE_OK &&
            ::curl_easy_setopt(easy, CURLOPT_PATH_AS_IS, 1L) == CURLE_OK &&
            ::curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR,
                               m_connection->bSecure ? "https" : "http") == CURLE_OK &&
            // An HTTPS connection never follows a redirect back to plain HTTP.
            ::curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR,
                               m_connection->bSecure ? "https" : "http,https") == CURLE_OK &&
            ::curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1) == CURLE_OK &&
            ::curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L) == CURLE_OK &&
            ::curl_easy_setopt(easy, CURLOPT_MAXREDIRS, kMaxRedirects) == CURLE_OK &&
            ::curl_easy_setopt(easy, CURLOPT_USERAGENT, m_connection->strAgent.c_str()) ==
                CURLE_OK &&
            ::curl_easy_setopt(easy, CURLOPT_HTTPHEADER, m_requestHeaders.get()) == CURLE_OK &&
            ::curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS,
                               static_cast<long>(std::max(timeouts.nConnectMs, 1))) == CURLE_OK &&
            ::curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT,
                               static_cast<long>(timeouts.nLowSpeedBytes)) == CURLE_OK &&
            ::curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME,
                               static_cast<long>(timeouts.nLowSpeedSeconds)) == CURLE_OK &&
            ::curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L) == CURLE_OK &&
            ::curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, m_errorBuffer) == CURLE_OK &&
            ::curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &CCurlRequest::OnHeader) == CURLE_OK &&
            ::curl_easy_setopt(easy, CURLOPT_HEADERDATA, this) == CURLE_OK &&
            ::curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &CCurlRequest::OnBody) == CURLE_OK &&
            ::curl_easy_setopt(easy, CURLOPT_WRITEDATA, this) == CURLE_OK &&
            ::curl_easy_setopt(easy, CURLOPT_PREREQFUNCTION, &CCurlRequest::OnPrereq) == CURLE_OK &&
            ::curl_easy_setopt(easy, CURLOPT_PREREQDATA, this) == CURLE_OK;
        if (m_strVerb == "HEAD") {
            bOk = bOk && ::curl_easy_setopt(easy, CURLOPT_NOBODY, 1L) == CURLE_OK;
        } else {
            bOk = bOk && ::curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L) == CURLE_OK;
            if (m_strVerb != "GET")
                bOk = bOk && ::curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, m_strVerb.c_str()) ==
                                 CURLE_OK;
        }
        // libcurl checks the peer and the host name by default; the tests' roots come on top
        // of the system's (the system's folder of roots stays in use).
        if (!timeouts.strExtraRootsFile.empty())
            bOk = bOk && ::curl_easy_setopt(easy, CURLOPT_CAINFO,
                                            timeouts.strExtraRootsFile.c_str()) == CURLE_OK;
        bOk = bOk && ConfigureProxy(easy);
        if (!bOk || !bHeaders)
            Fail(CHttpError("The request could not be set up", CURLE_FAILED_INIT));
    }

    // The proxy of the session (ProxyFor decides) with the best scheme it offers
    // (CURLAUTH_ANY, not libcurl's Basic-only default): Basic/Digest with the account given,
    // else ":" so that Negotiate/NTLM use the login where libcurl can. With the system's
    // settings loopback goes direct and other hosts take the environment's proxy. The head of
    // a tunnel's CONNECT answer is no response of the request.
    bool ConfigureProxy(CURL* easy) const {
        const HttpProxy& proxy = m_connection->timeouts.proxy;
        const bool bThrough = ProxyFor(proxy, m_connection->strHost);
        if (!bThrough && (proxy.nMode != HttpProxy::kSystem || m_connection->bLoopback))
            return ::curl_easy_setopt(easy, CURLOPT_PROXY, "") == CURLE_OK;
        bool bOk = ::curl_easy_setopt(easy, CURLOPT_PROXYAUTH, static_cast<long>(CURLAUTH_ANY)) ==
                       CURLE_OK &&
                   ::curl_easy_setopt(easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L) == CURLE_OK;
        if (!bThrough)
            return bOk;
        const std::string url = "http://" + ProxyServerText(proxy);
        bOk = bOk && ::curl_easy_setopt(easy, CURLOPT_PROXY, url.c_str()) == CURLE_OK &&
              ::curl_easy_setopt(easy, CURLOPT_NOPROXY, "") == CURLE_OK;
        if (proxy.strUser.empty())
            return bOk && ::curl_easy_setopt(easy, CURLOPT_PROXYUSERPWD, ":") == CURLE_OK;
        return bOk &&
               ::curl_easy_setopt(easy, CURLOPT_PROXYUSERNAME, proxy.strUser.c_str()) == CURLE_OK &&
               ::curl_easy_setopt(easy, CURLOPT_PROXYPASSWORD, proxy.strPassword.c_str()) ==
                   CURLE_OK;
    }

    // A proxy that refused the request (a 407 that curl did not answer) or the tunnel answered
    // for the request: its status is the final one, with no body.
    bool TakeProxyRefusal() {
        long nConnectCode = 0;
        if (!m_bDone)
            return false;
        if (m_nPendingStatus == 407) {
            nConnectCode = 407;
            m_headers.swap(m_proxyRefusal);
        } else if (::curl_easy_getinfo(Easy(), CURLINFO_HTTP_CONNECTCODE, &nConnectCode) !=
                       CURLE_OK ||
                   nConnectCode < 300) {
            return false;
        } else {
            m_headers.clear();
        }
        m_nStatus = static_cast<int>(nConnectCode);
        m_result = CURLE_OK;
        m_nBodyLength = 0;
        m_bHeadDone = true;
        return true;
    }

    // Runs the transfer until ready() holds or it ends. Raises CHttpError when nothing arrives
    // for the receive time-out once the request is on its way, when headDeadline (if given)
    // passes, and when the stop flag is set while the transfer has been waiting for a poll
    // slice (a transfer that moves on reports its data first); curl itself bounds the connect
    // and the speed.
    template <typename Ready>
    void Drive(Ready ready, const Clock::time_point* headDeadline = nullptr) {
        const auto start = Clock::now();
        m_lastActivity = start;
        const HttpTimeouts& timeouts = m_connection->timeouts;
        const auto receive = std::chrono::milliseconds(timeouts.nReceiveMs);
        for (;;) {
            int running = 0;
            const CURLMcode performed = ::curl_multi_perform(Multi(), &running);
            if (performed != CURLM_OK)
                Fail(CHttpError(::curl_multi_strerror(performed), static_cast<int>(performed)));
            CollectDone();
            if (m_bDone || ready())
                return;
            const auto now = Clock::now();
            if (timeouts.pStopFlag != nullptr && timeouts.pStopFlag->load() != 0 &&
                now - start >= std::chrono::milliseconds(kPollSliceMs))
                Fail(CHttpError("The transfer was stopped", kHttpErrStopped));
            if (headDeadline != nullptr && now >= *headDeadline) {
                Fail(CHttpError(std::string(::curl_easy_strerror(CURLE_OPERATION_TIMEDOUT)) +
                                    ": no complete response head within " +
                                    std::to_string(timeouts.nHeadMs) + " ms",
                                CURLE_OPERATION_TIMEDOUT));
            }
            int nWaitMs = kPollSliceMs;
            if (m_bConnected) {
                const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                      m_lastActivity + receive - now)
                                      .count();
                if (left <= 0) {
                    Fail(CHttpError(std::string(::curl_easy_strerror(CURLE_OPERATION_TIMEDOUT)) +
                                        ": nothing received for " +
                                        std::to_string(timeouts.nReceiveMs) + " ms",
                                    CURLE_OPERATION_TIMEDOUT));
                }
                nWaitMs = static_cast<int>(std::min<long long>(left, nWaitMs));
            }
            const CURLMcode polled = ::curl_multi_poll(Multi(), nullptr, 0, nWaitMs, nullptr);
            if (polled != CURLM_OK)
                Fail(CHttpError(::curl_multi_strerror(polled), static_cast<int>(polled)));
        }
    }

    void CollectDone() {
        int nLeft = 0;
        while (CURLMsg* message = ::curl_multi_info_read(Multi(), &nLeft)) {
            if (message->msg == CURLMSG_DONE && message->easy_handle == Easy() && m_bAttached) {
                m_bDone = true;
                m_result = message->data.result;
            }
        }
        if (m_bDone)
            Detach();
    }

    void Detach() {
        if (m_bAttached) {
            ::curl_multi_remove_handle(Multi(), Easy());
            m_bAttached = false;
        }
        if (m_connection->pActive == this)
            m_connection->pActive = nullptr;
    }

    bool AllArrived() const {
        return m_strVerb == "HEAD" || (m_nBodyLength >= 0 && m_nBodyReceived >= m_nBodyLength);
    }

    // Ends the request for good: every later call raises the same error.
    [[noreturn]] void Fail(const CHttpError& error) {
        m_failure = std::make_unique<CHttpError>(error);
        Detach();
        throw *m_failure;
    }

    CHttpError ResultError(CURLcode code) const {
        std::string text = ::curl_easy_strerror(code);
        if (m_errorBuffer[0] != '\0' && text != m_errorBuffer)
            text += std::string(": ") + m_errorBuffer;
        return CHttpError(text, static_cast<int>(code));
    }

    static int OnPrereq(void* self, char*, char*, int, int) {
        auto* request = static_cast<CCurlRequest*>(self);
        request->m_bConnected = true;
        request->m_lastActivity = Clock::now();
        return CURL_PREREQFUNC_OK;
    }

    static std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* self) {
        const std::size_t length = size * count;
        static_cast<CCurlRequest*>(self)->HeaderLine(std::string(data, length));
        return length;
    }

    void HeaderLine(const std::string& raw) {
        // Interim answers (1xx) are no sign of progress.
        if (m_nPendingStatus < 100 || m_nPendingStatus >= 200)
            m_lastActivity = Clock::now();
        if (raw.compare(0, 5, "HTTP/") == 0) {
            const std::size_t space = raw.find(' ');
            m_nPendingStatus = space == std::string::npos ? 0 : std::atoi(raw.c_str() + space + 1);
            m_pendingHeaders.clear();
            return;
        }
        if (!raw.empty() && (raw[0] == ' ' || raw[0] == '\t') && !m_pendingHeaders.empty()) {
            const std::string more = Trim(raw);
            if (!more.empty())
                m_pendingHeaders.back().second += " " + more;
            return;
        }
        const std::string line = Trim(raw);
        if (!line.empty()) {
            const std::size_t colon = line.find(':');
            if (colon != std::string::npos)
                m_pendingHeaders.emplace_back(Trim(line.substr(0, colon)),
                                              Trim(line.substr(colon + 1)));
            return;
        }
        // The end of one response head: interim answers and redirects that curl follows are
        // not the final response, nor is a proxy's 407 that curl may answer with credentials
        // (it is the final one when the transfer ends on it: TakeProxyRefusal).
        if (m_nPendingStatus >= 100 && m_nPendingStatus < 200)
            return;
        if (m_nPendingStatus == 407) {
            m_proxyRefusal.swap(m_pendingHeaders);
            m_pendingHeaders.clear();
            return;
        }
        if (m_nPendingStatus >= 300 && m_nPendingStatus < 400) {
            for (const auto& header : m_pendingHeaders) {
                if (EqualNoCase(header.first, "Location")) {
                    m_redirects.push_back(header.second);
                    return;
                }
            }
        }
        m_nStatus = m_nPendingStatus;
        m_headers.swap(m_pendingHeaders);
        m_pendingHeaders.clear();
        m_bHeadDone = true;
        if (m_strVerb != "HEAD" && m_nStatus != 204 && m_nStatus != 304) {
            std::string length;
            if (FindHeader("Content-Length", length)) {
                char* end = nullptr;
                const unsigned long long n = std::strtoull(length.c_str(), &end, 10);
                if (end != length.c_str() && *end == '\0')
                    m_nBodyLength = static_cast<std::int64_t>(n);
            }
        }
    }

    static std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* self) {
        return static_cast<CCurlRequest*>(self)->Body(data, size * count);
    }

    std::size_t Body(const char* data, std::size_t length) {
        m_lastActivity = Clock::now();
        // The body of a proxy's 407 is not the caller's.
        if (!m_bHeadDone)
            return length;
        const std::size_t pending = m_buffer.size() - m_nBufferPos;
        if (pending > 0 && pending + length > kBufferLimit) {
            m_bPaused = true;
            return CURL_WRITEFUNC_PAUSE;
        }
        m_buffer.erase(0, m_nBufferPos);
        m_nBufferPos = 0;
        m_buffer.append(data, length);
        m_nBodyReceived += static_cast<std::int64_t>(length);
        return length;
    }

    std::shared_ptr<CurlConnection> m_connection;
    std::string m_strVerb;
    std::string m_strTarget;
    std::string m_strAccept;
    CCurlList m_requestHeaders;
    char m_errorBuffer[CURL_ERROR_SIZE] = {};

    bool m_bAttached = false;
    bool m_bClosed = false;
    bool m_bHeadDone = false;
    bool m_bDone = false;
    bool m_bPaused = false;
    bool m_bConnected = false;
    CURLcode m_result = CURLE_OK;
    Clock::time_point m_lastActivity;

    int m_nStatus = 0;
    int m_nPendingStatus = 0;
    std::vector<std::pair<std::string, std::string>> m_headers;
    std::vector<std::pair<std::string, std::string>> m_pendingHeaders;
    std::vector<std::pair<std::string, std::string>> m_proxyRefusal;
    std::vector<std::string> m_redirects;
    std::vector<std::string> m_extraHeaders;

    std::string m_buffer;
    std::size_t m_nBufferPos = 0;
    std::int64_t m_nBodyLength = -1;
    std::int64_t m_nBodyReceived = 0;

    std::unique_ptr<CHttpError> m_failure;
};

class CCurlConnection : public CHttpConnection {
public:
    explicit CCurlConnection(std::shared_ptr<CurlConnection> connection)
        : m_connection(std::move(connection)) {}

    std::unique_ptr<CHttpRequest> OpenRequest(const std::string& verb,
                                              const std::string& objectPath,
                                              const char* const* acceptTypes) override {
        // The text WinINet sends; without types no Accept header at all.
        std::string accept = "Accept:";
        for (const char* const* type = acceptTypes; type && *type; ++type)
            accept += (type == acceptTypes ? " " : ", ") + std::string(*type);
        return std::make_unique<CCurlRequest>(m_connection, verb, HttpRequestPath(objectPath),
                                              std::move(accept));
    }

    bool PipelineHeads(const std::vector<std::string>& objectPaths, const char* const* acceptTypes,
                       const std::vector<std::string>& keepHeaders, int nStreams,
                       std::vector<HttpHeadAnswer>& answers) override {
        if (m_connection->bSecure || MayUseProxy())
            return false;
        HeadPipelineTarget target;
        target.strHost = m_connection->strHost;
        target.nPort = m_connection->nPort;
        target.strAgent = m_connection->strAgent;
        return RunHeadPipeline(target, m_connection->timeouts, objectPaths, acceptTypes,
                               keepHeaders, nStreams, answers);
    }

private:
    // Whether a request of this connection may go through a proxy (Configure's rule).
    bool MayUseProxy() const {
        const HttpProxy& proxy = m_connection->timeouts.proxy;
        if (proxy.nMode != HttpProxy::kSystem)
            return ProxyFor(proxy, m_connection->strHost);
        return !m_connection->bLoopback && ProxyInEnvironment();
    }

    // Whether libcurl could take a proxy from the environment for a plain HTTP request (an
    // exception in NO_PROXY is not looked into: such a host is simply not pipelined).
    static bool ProxyInEnvironment() {
        for (const char* name : {"http_proxy", "all_proxy", "ALL_PROXY"}) {
            const char* value = std::getenv(name);
            if (value != nullptr && *value != '\0')
                return true;
        }
        return false;
    }

    std::shared_ptr<CurlConnection> m_connection;
};

class CCurlSession : public CHttpSession {
public:
    CCurlSession(std::string agent, const HttpTimeouts& timeouts)
        : m_strAgent(std::move(agent)), m_timeouts(timeouts) {}

    std::unique_ptr<CHttpConnection> Connect(const std::string& host, int nPort,
                                             bool bSecure) override {
        if (host.empty() || nPort <= 0 || nPort > 65535)
            return nullptr;
        auto connection = std::make_shared<CurlConnection>();
        connection->multi.reset(::curl_multi_init());
        connection->easy.reset(::curl_easy_init());
        if (!connection->multi || !connection->easy)
            return nullptr;
        const bool bIpv6 = host.find(':') != std::string::npos && host[0] != '[';
        connection->bSecure = bSecure;
        connection->strBaseUrl = (bSecure ? "https://" : "http://") +
                                 (bIpv6 ? "[" + host + "]" : host) + ":" + std::to_string(nPort);
        connection->bLoopback = IsLoopbackHost(host);
        connection->strHost = host;
        connection->nPort = nPort;
        connection->strAgent = m_strAgent;
        connection->timeouts = m_timeouts;
        return std::make_unique<CCurlConnection>(std::move(connection));
    }

private:
    std::string m_strAgent;
    HttpTimeouts m_timeouts;
};

} // namespace

std::unique_ptr<CHttpSession> OpenHttpSession(const std::string& agent,
                                              const HttpTimeouts& timeouts) {
    if (!CurlReady())
        return nullptr;
    return std::make_unique<CCurlSession>(agent, timeouts);
}

} // namespace plat
