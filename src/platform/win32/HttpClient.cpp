// Win32 HTTP client through WinINet in asynchronous mode. Every call that may wait on the
// network is waited for here, bounded by the time-outs, so that a stalled server ends the
// request even where WinINet's own time-out options are not honoured (Wine). The options are
// set as well; on Windows whichever ends first reports.
#include "platform/HttpClient.h"
#include "platform/HttpPath.h"
#include "platform/HttpPipeline.h"
#include "platform/win32/WinText.h"

#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

namespace plat {

namespace {

using Clock = std::chrono::steady_clock;

struct InternetHandleCloser {
    void operator()(HINTERNET handle) const { ::InternetCloseHandle(handle); }
};
using CInternetHandle = std::unique_ptr<void, InternetHandleCloser>;
// Parents are shared so that a child never outlives the handle it was opened from.
using CSharedInternetHandle = std::shared_ptr<void>;

struct KernelHandleCloser {
    void operator()(HANDLE handle) const { ::CloseHandle(handle); }
};
using CKernelHandle = std::unique_ptr<void, KernelHandleCloser>;

struct LocalFreer {
    void operator()(wchar_t* text) const { ::LocalFree(text); }
};

constexpr DWORD kFirstWinInetError = 12000;
constexpr DWORD kLastWinInetError = 12175;

std::string TrimEnd(std::string text) {
    while (!text.empty() &&
           (text.back() == '\r' || text.back() == '\n' || text.back() == ' ' || text.back() == '.'))
        text.pop_back();
    return text;
}

// WinINet's own text for its codes (wininet.dll carries them), the system's for the rest.
std::string ErrorText(DWORD code) {
    wchar_t* raw = nullptr;
    DWORD n = 0;
    const DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
                        FORMAT_MESSAGE_MAX_WIDTH_MASK;
    if (code >= kFirstWinInetError && code <= kLastWinInetError) {
        n = ::FormatMessageW(flags | FORMAT_MESSAGE_FROM_HMODULE,
                             ::GetModuleHandleW(L"wininet.dll"), code, 0,
                             reinterpret_cast<wchar_t*>(&raw), 0, nullptr);
    }
    if (n == 0) {
        n = ::FormatMessageW(flags | FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code, 0,
                             reinterpret_cast<wchar_t*>(&raw), 0, nullptr);
    }
    const std::unique_ptr<wchar_t, LocalFreer> owned(raw);
    std::string text = n == 0 ? std::string() : TrimEnd(Narrow(std::wstring_view(raw, n)));
    if (text.empty())
        text = "WinINet error";
    return text + " (" + std::to_string(code) + ")";
}

CHttpError MakeError(DWORD code) {
    return CHttpError(ErrorText(code), static_cast<int>(code));
}

void SetTimeout(HINTERNET handle, DWORD option, int nMs) {
    DWORD value = static_cast<DWORD>(std::max(nMs, 1));
    ::InternetSetOptionW(handle, option, &value, sizeof value);
}

std::int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch())
        .count();
}

// State shared between a request and WinINet's status callback. WinINet may complete an
// abandoned operation, and always reports the closing of the handle, after the request object
// is gone; the state lives until both have let go of it, and owns every buffer an operation
// still under way may write to.
class CRequestState {
public:
    // One reference, for the caller.
    static CRequestState* Create() { return new CRequestState(); }
    void AddRef() { ++m_nRefs; }
    void Release() {
        if (--m_nRefs == 0)
            delete this;
    }

    bool Valid() const { return m_event != nullptr && m_closed != nullptr; }

    // Waits up to nMs for WinINet to destroy the request handle (it gives the connection back
    // for the next request then, which may happen on its own thread after the close).
    void WaitClosed(DWORD nMs) { ::WaitForSingleObject(m_closed.get(), nMs); }

    // Called on WinINet's threads.
    void OnStatus(DWORD status, const void* info) {
        switch (status) {
        case INTERNET_STATUS_REDIRECT:
            if (info != nullptr) {
                // The new location, as WinINet's wide functions give it.
                const std::lock_guard<std::mutex> lock(m_mutex);
                m_redirects.push_back(Narrow(static_cast<const wchar_t*>(info)));
            }
            m_bConnected = true;
            m_nLastActivityMs = NowMs();
            break;
        case INTERNET_STATUS_CONNECTED_TO_SERVER:
        case INTERNET_STATUS_REQUEST_SENT:
        case INTERNET_STATUS_RECEIVING_RESPONSE:
        case INTERNET_STATUS_RESPONSE_RECEIVED:
            m_bConnected = true;
            m_nLastActivityMs = NowMs();
            break;
        case INTERNET_STATUS_REQUEST_COMPLETE: {
            const auto* result = static_cast<const INTERNET_ASYNC_RESULT*>(info);
            m_bSucceeded = result->dwResult != 0;
            m_nError = result->dwError;
            ::SetEvent(m_event.get());
            break;
        }
        case INTERNET_STATUS_HANDLE_CLOSING:
            ::SetEvent(m_closed.get());
            Release();
            break;
        default:
            break;
        }
    }

    void BeginOperation() {
        m_nLastActivityMs = NowMs();
        ::ResetEvent(m_event.get());
    }

    // Waits for the operation begun last: for a connection within connectMs, then for
    // activity at least every receiveMs, and never past nDeadlineMs (0: none). check runs
    // every 100 ms and may end the wait with an error code. Returns 0 when the operation
    // completed, else the error that ended the wait.
    template <typename Check>
    DWORD Wait(int nConnectMs, int nReceiveMs, std::int64_t nDeadlineMs, Check check) {
        const std::int64_t start = NowMs();
        for (;;) {
            std::int64_t deadline =
                m_bConnected ? m_nLastActivityMs + nReceiveMs : start + std::max(nConnectMs, 1);
            if (nDeadlineMs != 0)
                deadline = std::min(deadline, nDeadlineMs);
            const std::int64_t left = deadline - NowMs();
            if (left <= 0)
                return ::WaitForSingleObject(m_event.get(), 0) == WAIT_OBJECT_0
                           ? 0
                           : ERROR_INTERNET_TIMEOUT;
            // Short slices: activity moves the deadline without signalling the event.
            const auto slice = static_cast<DWORD>(std::min<std::int64_t>(left, 100));
            if (::WaitForSingleObject(m_event.get(), slice) == WAIT_OBJECT_0)
                return 0;
            const DWORD failure = check();
            if (failure != 0)
                return failure;
        }
    }

    std::vector<std::string> Redirects() {
        const std::lock_guard<std::mutex> lock(m_mutex);
        return m_redirects;
    }
    void ClearRedirects() {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_redirects.clear();
    }

    bool Succeeded() const { return m_bSucceeded; }
    DWORD Error() const { return m_nError; }
    void MarkConnected() { m_bConnected = true; }

    char* Buffer() { return m_buffer; }
    static constexpr DWORD kBufferSize = 64 * 1024;
    DWORD* BytesRead() { return &m_nBytesRead; }
    DWORD* BytesAvailable() { return &m_nBytesAvailable; }

private:
    CRequestState()
        : m_event(::CreateEventW(nullptr, FALSE, FALSE, nullptr)),
          m_closed(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~CRequestState() = default;

    CKernelHandle m_event;
    CKernelHandle m_closed; // set when WinINet destroys the request handle
    std::atomic<int> m_nRefs{1};
    std::atomic<bool> m_bConnected{false};
    std::atomic<std::int64_t> m_nLastActivityMs{0};
    std::atomic<bool> m_bSucceeded{false};
    std::atomic<DWORD> m_nError{0};
    char m_buffer[kBufferSize];
    DWORD m_nBytesRead = 0;
    DWORD m_nBytesAvailable = 0;
    std::mutex m_mutex;
    std::vector<std::string> m_redirects;
};

void CALLBACK StatusCallback(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info, DWORD) {
    // Sessions and connections carry no context; only requests report here.
    if (context != 0)
        reinterpret_cast<CRequestState*>(context)->OnStatus(status, info);
}

// Basic/Digest answers of the fixed proxy, with the account of the settings; WinINet answers
// NTLM/Negotiate with the identity of the account the process runs under by itself.
void SetProxyAccount(HINTERNET request, const HttpProxy& proxy) {
    std::wstring user = Wide(proxy.strUser);
    std::wstring password = Wide(proxy.strPassword);
    ::InternetSetOptionW(request, INTERNET_OPTION_PROXY_USERNAME, user.data(),
                         static_cast<DWORD>(user.size()));
    ::InternetSetOptionW(request, INTERNET_OPTION_PROXY_PASSWORD, password.data(),
                         static_cast<DWORD>(password.size()));
    ::SecureZeroMemory(password.data(), password.size() * sizeof(wchar_t));
}

struct RequestStateReleaser {
    void operator()(CRequestState* state) const { state->Release(); }
};

class CWinInetRequest : public CHttpRequest {
public:
    // state: one reference for this object; the request handle holds its own.
    // bProxyAccount: the request carries the account of the fixed proxy.
    CWinInetRequest(CSharedInternetHandle connection, HINTERNET request, CRequestState* state,
                    bool bHead, bool bProxyAccount, const HttpTimeouts& timeouts)
        : m_connection(std::move(connection)), m_state(state), m_request(request), m_bHead(bHead),
          m_bProxyAccount(bProxyAccount), m_timeouts(timeouts), m_strOpenedUrl(Url()) {}
    ~CWinInetRequest() override { Release(); }

    void Send() override {
        CheckUsable();
        m_nBodyRead = 0;
        m_nBodyLength = -1;
        m_nAvailable = 0;
        m_state->ClearRedirects();
        m_state->BeginOperation();
        m_nHeadDeadlineMs = NowMs() + std::max(m_timeouts.nHeadMs, 1);
        if (!::HttpSendRequestW(m_request.get(), nullptr, 0, nullptr, 0))
            WaitPending(m_timeouts.nConnectMs);
        m_nHeadDeadlineMs = 0;
        m_strFinalUrl = Url();
        m_state->MarkConnected();
        m_nWindowStartMs = NowMs();
        m_nWindowBytes = 0;
        int nStatus = 0;
        // A connection closed without any answer: Windows fails the send, Wine reports a
        // response with status 0.
        if (!QueryStatusCode(nStatus) || nStatus < 100)
            Fail(ERROR_HTTP_INVALID_SERVER_RESPONSE);
        std::string length;
        if (QueryHeader("Content-Length", length)) {
            // A length that is no number (a sign, a NUL byte) ends the request, as in libcurl:
            // nothing is taken from such an answer.
            const bool bDigits = !length.empty() && length.size() <= 18 &&
                                 std::all_of(length.begin(), length.end(),
                                             [](char c) { return c >= '0' && c <= '9'; });
            if (!bDigits)
                Fail(ERROR_HTTP_INVALID_SERVER_RESPONSE);
            if (!m_bHead)
                m_nBodyLength =
                    static_cast<std::int64_t>(std::strtoull(length.c_str(), nullptr, 10));
        }
        if (nStatus == 407 && AnswerProxyChallenge())
            Send();
    }

    void AddHeader(const std::string& line) override {
        if (m_request)
            ::HttpAddRequestHeadersW(m_request.get(), Wide(line).c_str(), static_cast<DWORD>(-1),
                                     HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE);
    }

    std::vector<std::string> Redirects() const override {
        std::vector<std::string> redirects = m_state->Redirects();
        // Where the status callback names no hop (Wine), the final address tells.
        if (redirects.empty() && !m_strFinalUrl.empty() && m_strFinalUrl != m_strOpenedUrl)
            redirects.push_back(m_strFinalUrl);
        return redirects;
    }

    bool QueryStatusCode(int& nStatus) override {
        if (!m_request)
            return false;
        DWORD status = 0;
        DWORD size = sizeof status;
        if (!::HttpQueryInfoW(m_request.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER,
                              &status, &size, nullptr))
            return false;
        nStatus = static_cast<int>(status);
        return true;
    }

    bool QueryHeader(const std::string& name, std::string& value) override {
        if (!m_request)
            return false;
        const std::wstring wideName = Wide(name);
        // HTTP_QUERY_CUSTOM takes the name in the buffer and returns the value in it.
        std::vector<wchar_t> buf(std::max<std::size_t>(wideName.size() + 1, 256));
        for (;;) {
            std::copy(wideName.begin(), wideName.end(), buf.begin());
            buf[wideName.size()] = L'\0';
            DWORD size = static_cast<DWORD>(buf.size() * sizeof(wchar_t));
            if (::HttpQueryInfoW(m_request.get(), HTTP_QUERY_CUSTOM, buf.data(), &size, nullptr)) {
                value = Narrow(std::wstring_view(buf.data(), size / sizeof(wchar_t)));
                return true;
            }
            if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER)
                return false;
            buf.resize(std::max<std::size_t>(size / sizeof(wchar_t) + 1, buf.size() * 2));
        }
    }

    // Reads only what WinINet reports available, so that the read completes at once: a read
    // that goes asynchronous can lose its byte count (Wine's InternetReadFile clears the count
    // after returning ERROR_IO_PENDING, even when its worker has already filled the buffer).
    std::size_t Read(void* buffer, std::size_t size) override {
        CheckUsable();
        if (size == 0)
            return 0;
        if (m_nAvailable == 0)
            m_nAvailable = QueryAvailable();
        DWORD* got = m_state->BytesRead();
        *got = 0;
        if (m_nAvailable > 0) {
            const DWORD want = static_cast<DWORD>(
                std::min<std::size_t>({size, m_nAvailable, CRequestState::kBufferSize}));
            m_state->BeginOperation();
            if (!::InternetReadFile(m_request.get(), m_state->Buffer(), want, got))
                WaitPending(m_timeouts.nReceiveMs);
            std::memcpy(buffer, m_state->Buffer(), *got);
            m_nAvailable -= std::min<DWORD>(m_nAvailable, *got);
            m_nBodyRead += *got;
            m_nWindowBytes += *got;
        }
        const DWORD slow = CheckProgress(false);
        if (slow != 0)
            Fail(slow);
        // WinINet ends the data quietly when the server drops the connection early.
        if (*got == 0 && m_nBodyLength >= 0 && m_nBodyRead < m_nBodyLength)
            Fail(ERROR_INTERNET_CONNECTION_ABORTED);
        return *got;
    }

    void Close() override { Release(); }

private:
    // Close, which the destructor runs too (a virtual call there would be resolved statically).
    void Release() {
        if (!m_request)
            return;
        m_request.reset();
        // A request that ended well waits until WinINet has given its connection back, so
        // that the next request finds it free instead of opening another one (Wine's WinINet
        // can still hold the handle on its own thread when the close returns).
        if (!m_failure)
            m_state->WaitClosed(kCloseWaitMs);
    }

    // A proxy's challenge that WinINet handed back although the request carries the proxy's
    // account (Windows may; Wine answers it by itself): the answer's body is read away and the
    // account set again, once per request. True when the request is to be sent again.
    bool AnswerProxyChallenge() {
        if (!m_bProxyAccount || m_bProxyAnswered)
            return false;
        m_bProxyAnswered = true;
        char sink[4096];
        while (!m_bHead && Read(sink, sizeof sink) > 0) {
        }
        SetProxyAccount(m_request.get(), m_timeouts.proxy);
        return true;
    }

    // The request's address as WinINet holds it (the final one once redirects are followed).
    std::string Url() const {
        wchar_t buf[2048] = {};
        DWORD size = sizeof buf - sizeof(wchar_t);
        if (!m_request || !::InternetQueryOptionW(m_request.get(), INTERNET_OPTION_URL, buf, &size))
            return std::string();
        return Narrow(std::wstring_view(buf, ::wcsnlen(buf, 2047)));
    }

    void CheckUsable() {
        if (m_failure)
            throw *m_failure;
        if (!m_request)
            throw CHttpError("The request is closed");
    }

    // Codes of this client's own failures, beyond WinINet's.
    static constexpr DWORD kCloseWaitMs = 1000;
    static constexpr DWORD kStoppedError = 0xE0000001;
    static constexpr DWORD kTooSlowError = 0xE0000002;

    // Ends the request for good: every later call raises the same error.
    [[noreturn]] void Fail(DWORD code) {
        if (code == kStoppedError)
            m_failure = std::make_unique<CHttpError>("The transfer was stopped", kHttpErrStopped);
        else if (code == kTooSlowError)
            m_failure = std::make_unique<CHttpError>(
                "The transfer was too slow: less than " +
                    std::to_string(m_timeouts.nLowSpeedBytes) + " bytes per second for " +
                    std::to_string(m_timeouts.nLowSpeedSeconds) + " seconds",
                static_cast<int>(ERROR_INTERNET_TIMEOUT));
        else
            m_failure = std::make_unique<CHttpError>(MakeError(code));
        Close();
        throw *m_failure;
    }

    // After a call that returned FALSE: waits for it when it went asynchronous, else fails.
    void WaitPending(int nConnectMs) {
        const DWORD error = ::GetLastError();
        if (error != ERROR_IO_PENDING)
            Fail(error);
        const DWORD failure = m_state->Wait(nConnectMs, m_timeouts.nReceiveMs, m_nHeadDeadlineMs,
                                            [this] { return CheckProgress(true); });
        if (failure != 0)
            Fail(failure);
        if (!m_state->Succeeded())
            Fail(m_state->Error() != 0 ? m_state->Error() : ERROR_INTERNET_INTERNAL_ERROR);
    }

    // The body's speed over the last window of nLowSpeedSeconds (the rule of libcurl's
    // low-speed limit), and in a wait that has lasted a slice (bWaiting) the stop flag: a
    // transfer that moves on reports its data first. 0 to go on, else the error that ends the
    // request.
    DWORD CheckProgress(bool bWaiting) {
        if (bWaiting && m_timeouts.pStopFlag != nullptr && m_timeouts.pStopFlag->load() != 0)
            return kStoppedError;
        if (m_nWindowStartMs == 0 || m_timeouts.nLowSpeedSeconds <= 0)
            return 0;
        const std::int64_t elapsed = NowMs() - m_nWindowStartMs;
        const std::int64_t window = std::int64_t{m_timeouts.nLowSpeedSeconds} * 1000;
        if (elapsed < window)
            return 0;
        if (m_nWindowBytes < std::int64_t{m_timeouts.nLowSpeedBytes} * m_timeouts.nLowSpeedSeconds)
            return kTooSlowError;
        m_nWindowStartMs = NowMs();
        m_nWindowBytes = 0;
        return 0;
    }

    // Bytes that can be read without waiting, after waiting for some; 0 at the end of the data.
    DWORD QueryAvailable() {
        for (;;) {
            DWORD* available = m_state->BytesAvailable();
            *available = 0;
            m_state->BeginOperation();
            if (::InternetQueryDataAvailable(m_request.get(), available, 0, 0))
                return *available;
            // Once the wait is over the data is buffered and the next query answers at once.
            WaitPending(m_timeouts.nReceiveMs);
        }
    }

    CSharedInternetHandle m_connection;
    std::unique_ptr<CRequestState, RequestStateReleaser> m_state;
    CInternetHandle m_request;
    bool m_bHead;
    bool m_bProxyAccount;
    bool m_bProxyAnswered = false;
    HttpTimeouts m_timeouts;
    std::int64_t m_nBodyRead = 0;
    std::int64_t m_nBodyLength = -1;
    DWORD m_nAvailable = 0;
    std::string m_strOpenedUrl;
    std::string m_strFinalUrl;
    std::int64_t m_nHeadDeadlineMs = 0; // while the request waits for its response head
    std::int64_t m_nWindowStartMs = 0;  // the body's speed window, from the response head on
    std::int64_t m_nWindowBytes = 0;
    std::unique_ptr<CHttpError> m_failure;
};

class CWinInetConnection : public CHttpConnection {
public:
    CWinInetConnection(CSharedInternetHandle connection, const HttpTimeouts& timeouts, bool bSecure,
                       HeadPipelineTarget target)
        : m_connection(std::move(connection)), m_timeouts(timeouts), m_bSecure(bSecure),
          m_target(std::move(target)) {}

    bool PipelineHeads(const std::vector<std::string>& objectPaths, const char* const* acceptTypes,
                       const std::vector<std::string>& keepHeaders, int nStreams,
                       std::vector<HttpHeadAnswer>& answers) override {
        const HttpProxy& proxy = m_timeouts.proxy;
        const bool bProxy = proxy.nMode == HttpProxy::kSystem
                                ? !IsLoopbackHost(m_target.strHost) && MayUseProxy()
                                : ProxyFor(proxy, m_target.strHost);
        if (m_bSecure || bProxy)
            return false;
        return RunHeadPipeline(m_target, m_timeouts, objectPaths, acceptTypes, keepHeaders,
                               nStreams, answers);
    }

    std::unique_ptr<CHttpRequest> OpenRequest(const std::string& verb,
                                              const std::string& objectPath,
                                              const char* const* acceptTypes) override {
        std::vector<std::wstring> types;
        for (const char* const* type = acceptTypes; type && *type; ++type)
            types.push_back(Wide(*type));
        std::vector<const wchar_t*> typePointers;
        for (const std::wstring& type : types)
            typePointers.push_back(type.c_str());
        typePointers.push_back(nullptr);

        CRequestState* state = CRequestState::Create();
        if (!state->Valid()) {
            state->Release();
            return nullptr;
        }
        // The second reference belongs to the handle, given back when WinINet closes it.
        state->AddRef();
        // WinINet's default checks of the certificate (trusted root, host name, dates) hold;
        // no flag relaxes them.
        const DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_EXISTING_CONNECT |
                            INTERNET_FLAG_KEEP_CONNECTION | (m_bSecure ? INTERNET_FLAG_SECURE : 0);
        HINTERNET request = ::HttpOpenRequestW(
            m_connection.get(), Wide(verb).c_str(), Wide(HttpRequestPath(objectPath)).c_str(),
            L"HTTP/1.1", nullptr, typePointers.data(), flags, reinterpret_cast<DWORD_PTR>(state));
        if (!request) {
            state->Release();
            state->Release();
            return nullptr;
        }
        const HttpProxy& proxy = m_timeouts.proxy;
        const bool bAccount = !proxy.strUser.empty() && ProxyFor(proxy, m_target.strHost);
        if (bAccount)
            SetProxyAccount(request, proxy);
        return std::make_unique<CWinInetRequest>(m_connection, request, state, verb == "HEAD",
                                                 bAccount, m_timeouts);
    }

private:
    // Whether the system's settings may send a request through a proxy: a proxy server, a
    // configuration script or the automatic detection (which may find one) is set.
    static bool MayUseProxy() {
        INTERNET_PER_CONN_OPTIONW option{};
        option.dwOption = INTERNET_PER_CONN_FLAGS;
        INTERNET_PER_CONN_OPTION_LISTW list{};
        list.dwSize = sizeof list;
        list.dwOptionCount = 1;
        list.pOptions = &option;
        DWORD size = sizeof list;
        if (!::InternetQueryOptionW(nullptr, INTERNET_OPTION_PER_CONNECTION_OPTION, &list, &size))
            return true;
        return (option.Value.dwValue &
                (PROXY_TYPE_PROXY | PROXY_TYPE_AUTO_PROXY_URL | PROXY_TYPE_AUTO_DETECT)) != 0;
    }

    CSharedInternetHandle m_connection;
    HttpTimeouts m_timeouts;
    bool m_bSecure;
    HeadPipelineTarget m_target;
};

// A WinINet session of the access type given (a fixed proxy names proxyName), with the
// status callback and the time-outs that its connections and requests take over.
HINTERNET OpenInternet(const std::string& agent, const HttpTimeouts& timeouts, DWORD nAccess,
                       const std::wstring& proxyName) {
    // "<-loopback>": WinINet would otherwise send loopback addresses around a fixed proxy.
    CInternetHandle session(::InternetOpenW(
        Wide(agent).c_str(), nAccess,
        nAccess == INTERNET_OPEN_TYPE_PROXY ? proxyName.c_str() : nullptr,
        nAccess == INTERNET_OPEN_TYPE_PROXY ? L"<-loopback>" : nullptr, INTERNET_FLAG_ASYNC));
    if (!session)
        return nullptr;
    if (::InternetSetStatusCallbackW(session.get(), StatusCallback) ==
        INTERNET_INVALID_STATUS_CALLBACK)
        return nullptr;
    SetTimeout(session.get(), INTERNET_OPTION_CONNECT_TIMEOUT, timeouts.nConnectMs);
    SetTimeout(session.get(), INTERNET_OPTION_SEND_TIMEOUT, timeouts.nReceiveMs);
    SetTimeout(session.get(), INTERNET_OPTION_RECEIVE_TIMEOUT, timeouts.nReceiveMs);
    return session.release();
}

// With a fixed proxy, hosts that ProxyFor does not name go through a second, direct session.
class CWinInetSession : public CHttpSession {
public:
    CWinInetSession(HINTERNET session, const HttpTimeouts& timeouts, std::string agent)
        : m_session(session, InternetHandleCloser()), m_timeouts(timeouts),
          m_strAgent(std::move(agent)) {}

    std::unique_ptr<CHttpConnection> Connect(const std::string& host, int nPort,
                                             bool bSecure) override {
        if (nPort <= 0 || nPort > 65535)
            return nullptr;
        if (m_timeouts.proxy.nMode == HttpProxy::kServer && !ProxyFor(m_timeouts.proxy, host) &&
            !m_direct) {
            HINTERNET direct =
                OpenInternet(m_strAgent, m_timeouts, INTERNET_OPEN_TYPE_DIRECT, std::wstring());
            if (!direct)
                return nullptr;
            m_direct = CSharedInternetHandle(direct, InternetHandleCloser());
        }
        const CSharedInternetHandle& session =
            m_timeouts.proxy.nMode == HttpProxy::kServer && !ProxyFor(m_timeouts.proxy, host)
                ? m_direct
                : m_session;
        return ConnectOn(session, host, nPort, bSecure);
    }

private:
    std::unique_ptr<CHttpConnection> ConnectOn(const CSharedInternetHandle& owner,
                                               const std::string& host, int nPort, bool bSecure) {
        HINTERNET connection =
            ::InternetConnectW(owner.get(), Wide(host).c_str(), static_cast<INTERNET_PORT>(nPort),
                               nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0);
        if (!connection)
            return nullptr;
        CSharedInternetHandle session = owner;
        CSharedInternetHandle shared(
            connection, [session](HINTERNET handle) { ::InternetCloseHandle(handle); });
        HeadPipelineTarget target;
        target.strHost = host;
        target.nPort = nPort;
        target.strAgent = m_strAgent;
        return std::make_unique<CWinInetConnection>(std::move(shared), m_timeouts, bSecure,
                                                    std::move(target));
    }

    CSharedInternetHandle m_session;
    CSharedInternetHandle m_direct;
    HttpTimeouts m_timeouts;
    std::string m_strAgent;
};

} // namespace

std::unique_ptr<CHttpSession> OpenHttpSession(const std::string& agent,
                                              const HttpTimeouts& timeouts) {
    DWORD nAccess = INTERNET_OPEN_TYPE_PRECONFIG;
    if (timeouts.proxy.nMode == HttpProxy::kDirect)
        nAccess = INTERNET_OPEN_TYPE_DIRECT;
    else if (timeouts.proxy.nMode == HttpProxy::kServer)
        nAccess = INTERNET_OPEN_TYPE_PROXY;
    HINTERNET session =
        OpenInternet(agent, timeouts, nAccess, Wide(ProxyServerText(timeouts.proxy)));
    if (!session)
        return nullptr;
    return std::make_unique<CWinInetSession>(session, timeouts, agent);
}

} // namespace plat
