#include "support/TestHttpServer.h"

#include "platform/FileSystem.h"
#include "platform/Path.h"
#include "support/TempDir.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <stdexcept>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
using SocketHandle = SOCKET;
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>
using SocketHandle = int;
#endif

namespace kstest {

namespace {

#ifdef _WIN32
constexpr SocketHandle kNoSocket = INVALID_SOCKET;
void CloseSocket(SocketHandle s) {
    ::closesocket(s);
}
void ShutdownSocket(SocketHandle s) {
    ::shutdown(s, SD_BOTH);
}
int LastSocketError() {
    return ::WSAGetLastError();
}
// An error after which the same call is simply tried again.
bool IsPassingSocketError(int e) {
    return e == WSAEINTR || e == WSAEWOULDBLOCK;
}
struct WinsockInit {
    WinsockInit() {
        WSADATA data;
        ::WSAStartup(MAKEWORD(2, 2), &data);
    }
};
#else
constexpr SocketHandle kNoSocket = -1;
void CloseSocket(SocketHandle s) {
    ::close(s);
}
void ShutdownSocket(SocketHandle s) {
    ::shutdown(s, SHUT_RDWR);
}
int LastSocketError() {
    return errno;
}
bool IsPassingSocketError(int e) {
    return e == EINTR || e == EAGAIN || e == EWOULDBLOCK;
}
#endif

SocketHandle ToSocket(std::intptr_t s) {
    return static_cast<SocketHandle>(s);
}

#ifdef MSG_NOSIGNAL
// A client that hangs up mid-body must not end the test process with SIGPIPE.
constexpr int kSendFlags = MSG_NOSIGNAL;
#else
constexpr int kSendFlags = 0;
#endif

// Waits until s can be read (or written) or the server stops. Blocking calls are not used on
// their own: a shutdown from another thread does not end them everywhere (Wine keeps a recv
// waiting until the peer closes).
bool WaitReady(SocketHandle s, bool bWrite, const std::atomic<bool>& bStopping) {
    while (!bStopping) {
        fd_set set;
        FD_ZERO(&set);
        FD_SET(s, &set);
        timeval tick{0, 50 * 1000};
        const int n = ::select(static_cast<int>(s) + 1, bWrite ? nullptr : &set,
                               bWrite ? &set : nullptr, nullptr, &tick);
        if (n > 0)
            return true;
        if (n < 0 && !IsPassingSocketError(LastSocketError()))
            return false;
    }
    return false;
}

bool SendAll(SocketHandle s, const char* data, std::size_t size,
             const std::atomic<bool>& bStopping) {
    while (size > 0) {
        if (!WaitReady(s, true, bStopping))
            return false;
        const int chunk = static_cast<int>(std::min<std::size_t>(size, 1 << 20));
        const int n = static_cast<int>(::send(s, data, chunk, kSendFlags));
        if (n < 0 && IsPassingSocketError(LastSocketError()))
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string Trim(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return std::string();
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// Reads one request head ("...\r\n\r\n") from s, keeping what follows in pending. False with
// the reason when no head came.
bool ReadHead(SocketHandle s, std::string& pending, std::string& head,
              const std::atomic<bool>& bStopping, std::string& why) {
    for (;;) {
        const std::size_t end = pending.find("\r\n\r\n");
        if (end != std::string::npos) {
            head = pending.substr(0, end);
            pending.erase(0, end + 4);
            return true;
        }
        if (!WaitReady(s, false, bStopping)) {
            why = bStopping ? "the server stops"
                            : "waiting failed, error " + std::to_string(LastSocketError());
            return false;
        }
        char buf[4096];
        const int n = static_cast<int>(::recv(s, buf, sizeof buf, 0));
        if (n < 0 && IsPassingSocketError(LastSocketError()))
            continue;
        if (n <= 0) {
            why = n == 0 ? "closed by the client"
                         : "receiving failed, error " + std::to_string(LastSocketError());
            return false;
        }
        pending.append(buf, static_cast<std::size_t>(n));
    }
}

HttpRequestSeen ParseHead(const std::string& head, int nConnection) {
    HttpRequestSeen request;
    request.nConnection = nConnection;
    std::size_t lineEnd = head.find("\r\n");
    const std::string requestLine = head.substr(0, lineEnd);
    const std::size_t sp1 = requestLine.find(' ');
    const std::size_t sp2 = requestLine.rfind(' ');
    request.strMethod = requestLine.substr(0, sp1);
    if (sp1 != std::string::npos && sp2 > sp1) {
        request.strTarget = requestLine.substr(sp1 + 1, sp2 - sp1 - 1);
        request.strVersion = requestLine.substr(sp2 + 1);
    }
    while (lineEnd != std::string::npos) {
        const std::size_t start = lineEnd + 2;
        lineEnd = head.find("\r\n", start);
        const std::string line = head.substr(start, lineEnd - start);
        const std::size_t colon = line.find(':');
        if (colon != std::string::npos)
            request.headers[Lower(Trim(line.substr(0, colon)))] = Trim(line.substr(colon + 1));
    }
    return request;
}

// "%XX" escapes decoded; anything else kept.
std::string PercentDecode(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() &&
            std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
            out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

bool HasHeader(const HttpScriptedResponse& response, const char* name) {
    for (const auto& header : response.headers) {
        if (Lower(header.first) == Lower(name))
            return true;
    }
    return false;
}

std::string HeadBytes(const HttpScriptedResponse& response) {
    std::string out =
        "HTTP/1.1 " + std::to_string(response.nStatus) + " " + response.strReason + "\r\n";
    for (const auto& header : response.headers)
        out += header.first + ": " + header.second + "\r\n";
    if (response.bAutoContentLength && !HasHeader(response, "Content-Length"))
        out += "Content-Length: " + std::to_string(response.strBody.size()) + "\r\n";
    return out + "\r\n";
}

#ifdef _WIN32
const WinsockInit g_winsock;
#endif

} // namespace

std::string HttpDate(std::int64_t t) {
    static const char* const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const auto tt = static_cast<std::time_t>(t);
    std::tm tm{};
#ifdef _WIN32
    ::gmtime_s(&tm, &tt);
#else
    ::gmtime_r(&tt, &tm);
#endif
    char buf[64];
    std::snprintf(buf, sizeof buf, "%s, %02d %s %04d %02d:%02d:%02d GMT", days[tm.tm_wday],
                  tm.tm_mday, months[tm.tm_mon], tm.tm_year + 1900, tm.tm_hour, tm.tm_min,
                  tm.tm_sec);
    return buf;
}

namespace {

// A listening socket on 127.0.0.1 at a port the system picks, or the failing call and its
// error.
SocketHandle ListenOnLoopback(int& port, std::string& failure) {
    SocketHandle s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == kNoSocket) {
        failure = "socket: error " + std::to_string(LastSocketError());
        return kNoSocket;
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t len = sizeof addr;
    const char* call = nullptr;
    if (::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
        call = "bind";
    else if (::listen(s, 64) != 0)
        call = "listen";
    else if (::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        call = "getsockname";
    if (call != nullptr) {
        failure = std::string(call) + ": error " + std::to_string(LastSocketError());
        CloseSocket(s);
        return kNoSocket;
    }
    port = ntohs(addr.sin_port);
    return s;
}

} // namespace

TestHttpServer::TestHttpServer() {
    std::string failure;
    const SocketHandle s = ListenOnLoopback(m_nPort, failure);
    if (s == kNoSocket)
        throw std::runtime_error("test server: cannot listen (" + failure + ")");
    m_listen = static_cast<std::intptr_t>(s);
    m_handler = [this](const HttpRequestSeen& request) { return FolderResponse(request); };
    m_acceptThread = std::thread(&TestHttpServer::AcceptLoop, this);
}

TestHttpServer::~TestHttpServer() {
    m_bStopping = true;
    ReleaseStalls();
    ShutdownSocket(ToSocket(m_listen));
    CloseSocket(ToSocket(m_listen));
    m_acceptThread.join();
    std::vector<std::thread> workers;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (std::intptr_t s : m_openSockets)
            ShutdownSocket(ToSocket(s));
        workers.swap(m_workers);
    }
    for (std::thread& worker : workers)
        worker.join();
}

void TestHttpServer::SetHandler(Handler handler) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_handler = std::move(handler);
}

void TestHttpServer::ServeFolder(const std::string& root) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_strRoot = root;
}

HttpScriptedResponse TestHttpServer::FolderResponse(const HttpRequestSeen& request) const {
    std::string root;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        root = m_strRoot;
    }
    HttpScriptedResponse response;
    std::string relative = PercentDecode(request.strTarget.substr(0, request.strTarget.find('?')));
    while (!relative.empty() && relative[0] == '/')
        relative.erase(0, 1);
    for (char& c : relative) {
        if (c == '/')
            c = plat::kPathSep;
    }
    plat::FileStatus status;
    const std::string path = plat::JoinPath(root, relative);
    if (root.empty() || relative.find("..") != std::string::npos ||
        !plat::GetFileStatus(path, status) || status.bFolder) {
        response.nStatus = 404;
        response.strReason = "Not Found";
        response.strBody = "not found";
        return response;
    }
    const std::string lastModified = HttpDate(status.tModify);
    response.headers.emplace_back("Last-Modified", lastModified);
    response.strBody = ReadFileBytes(path);
    // "Range: bytes=N-", honoured while "If-Range" names the file's time.
    const auto range = request.headers.find("range");
    const auto ifRange = request.headers.find("if-range");
    if (request.strMethod == "GET" && range != request.headers.end() &&
        range->second.compare(0, 6, "bytes=") == 0 &&
        (ifRange == request.headers.end() || ifRange->second == lastModified)) {
        const std::size_t from = std::strtoull(range->second.c_str() + 6, nullptr, 10);
        if (from < response.strBody.size()) {
            response.nStatus = 206;
            response.strReason = "Partial Content";
            response.headers.emplace_back("Content-Range",
                                          "bytes " + std::to_string(from) + "-" +
                                              std::to_string(response.strBody.size() - 1) + "/" +
                                              std::to_string(response.strBody.size()));
            response.strBody.erase(0, from);
        }
    }
    return response;
}

int TestHttpServer::RequestCount() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return static_cast<int>(m_requests.size());
}

std::vector<std::string> TestHttpServer::ConnectionEnds() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_connectionEnds;
}

std::vector<HttpRequestSeen> TestHttpServer::Requests() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests;
}

void TestHttpServer::ReleaseStalls() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_nStallRelease;
    }
    m_stallCv.notify_all();
}

void TestHttpServer::Stall() {
    std::unique_lock<std::mutex> lock(m_mutex);
    const unsigned nRelease = m_nStallRelease;
    m_stallCv.wait_for(lock, std::chrono::seconds(120),
                       [&] { return m_bStopping || m_nStallRelease != nRelease; });
}

void TestHttpServer::AcceptLoop() {
    while (!m_bStopping) {
        const SocketHandle s = ::accept(ToSocket(m_listen), nullptr, nullptr);
        if (s == kNoSocket)
            break;
        if (m_bStopping) {
            CloseSocket(s);
            break;
        }
        const int nConnection = ++m_nConnections;
        std::lock_guard<std::mutex> lock(m_mutex);
        m_openSockets.push_back(static_cast<std::intptr_t>(s));
        m_workers.emplace_back(&TestHttpServer::Serve, this, static_cast<std::intptr_t>(s),
                               nConnection);
    }
}

void TestHttpServer::Serve(std::intptr_t socket, int nConnection) {
    const SocketHandle s = ToSocket(socket);
    std::string pending;
    std::string head;
    std::string why = "the server stops";
    int nServed = 0;
    while (!m_bStopping && ReadHead(s, pending, head, m_bStopping, why)) {
        ++nServed;
        const HttpRequestSeen request = ParseHead(head, nConnection);
        Handler handler;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_requests.push_back(request);
            handler = m_handler;
        }
        const HttpScriptedResponse response = handler(request);
        const auto connection = request.headers.find("connection");
        const bool bClientCloses =
            connection != request.headers.end() && Lower(connection->second) == "close";
        if (!SendResponse(s, request, response) || response.bClose || bClientCloses) {
            why = response.bClose || bClientCloses ? "closed after the response"
                                                   : "answer scripted to end or sending failed";
            break;
        }
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_connectionEnds.push_back("connection " + std::to_string(nConnection) + ": " + why +
                                   ", after " + std::to_string(nServed) + " requests");
        m_openSockets.erase(std::remove(m_openSockets.begin(), m_openSockets.end(), socket),
                            m_openSockets.end());
    }
    ShutdownSocket(s);
    CloseSocket(s);
}

std::string TestHttpServer::ResponseBytes(const HttpRequestSeen& request,
                                          const HttpScriptedResponse& response) {
    return HeadBytes(response) + (request.strMethod != "HEAD" ? response.strBody : std::string());
}

bool TestHttpServer::SendRaw(std::intptr_t socket, const HttpScriptedResponse& response) {
    const SocketHandle s = ToSocket(socket);
    if (!response.bRawEndless)
        return SendAll(s, response.strRaw.data(), response.strRaw.size(), m_bStopping);
    // Large sends, so that the bytes come faster than a client can take them.
    std::string chunk;
    while (chunk.size() < 256 * 1024)
        chunk += response.strRaw;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(kRawEndlessSeconds);
    while (std::chrono::steady_clock::now() < end &&
           SendAll(s, chunk.data(), chunk.size(), m_bStopping)) {
    }
    return false;
}

bool TestHttpServer::SendResponse(std::intptr_t socket, const HttpRequestSeen& request,
                                  const HttpScriptedResponse& response) {
    const SocketHandle s = ToSocket(socket);
    if (response.bStallBeforeHeaders) {
        Stall();
        return false;
    }
    if (response.bCloseBeforeHeaders)
        return false;
    if (response.nInterimEveryMs > 0) {
        static const char kContinue[] = "HTTP/1.1 100 Continue\r\n\r\n";
        while (SendAll(s, kContinue, sizeof kContinue - 1, m_bStopping))
            std::this_thread::sleep_for(std::chrono::milliseconds(response.nInterimEveryMs));
        return false;
    }
    if (!response.strRaw.empty())
        return SendRaw(socket, response);
    const std::size_t headSize = HeadBytes(response).size();
    const std::string out = ResponseBytes(request, response);

    std::size_t limit = out.size();
    bool bStall = false;
    if (response.nStallAfter != std::string::npos && headSize + response.nStallAfter < limit) {
        limit = headSize + response.nStallAfter;
        bStall = true;
    }
    const bool bDrop =
        response.nDropAfter != std::string::npos && headSize + response.nDropAfter < limit;
    if (bDrop)
        limit = headSize + response.nDropAfter;
    if (response.nTrickleMs > 0 && limit > headSize) {
        if (!SendAll(s, out.data(), headSize, m_bStopping))
            return false;
        for (std::size_t i = headSize; i < limit; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(response.nTrickleMs));
            if (m_bStopping || !SendAll(s, out.data() + i, 1, m_bStopping))
                return false;
        }
    } else if (!SendAll(s, out.data(), limit, m_bStopping)) {
        return false;
    }
    if (bDrop)
        return false;
    if (bStall) {
        Stall();
        return false;
    }
    return true;
}

} // namespace kstest
