// Winsock TCP streams: non-blocking sockets and select.
#include "platform/Socket.h"

#include "platform/Network.h"

#include <winsock2.h>
#include <ws2tcpip.h>

namespace plat {

namespace {

class CWinStream : public CTcpStream {
public:
    CWinStream(SOCKET s, int nState) : m_socket(s), m_nState(nState) {}
    ~CWinStream() override { ::closesocket(m_socket); }
    CWinStream(const CWinStream&) = delete;
    CWinStream& operator=(const CWinStream&) = delete;

    SOCKET Socket() const { return m_socket; }

    int Connected() override {
        if (m_nState != 0)
            return m_nState;
        // A connection under way ends as writable, or failed in the exception set.
        fd_set writable;
        fd_set failed;
        FD_ZERO(&writable);
        FD_ZERO(&failed);
        FD_SET(m_socket, &writable);
        FD_SET(m_socket, &failed);
        timeval now{0, 0};
        if (::select(0, nullptr, &writable, &failed, &now) <= 0)
            return 0;
        m_nState = FD_ISSET(m_socket, &failed) ? -1 : 1;
        return m_nState;
    }

    long Send(const char* data, std::size_t size) override {
        const int n = ::send(m_socket, data, static_cast<int>(size), 0);
        if (n != SOCKET_ERROR)
            return n;
        return ::WSAGetLastError() == WSAEWOULDBLOCK ? 0 : -1;
    }

    long Receive(char* buffer, std::size_t size) override {
        const int n = ::recv(m_socket, buffer, static_cast<int>(size), 0);
        if (n != SOCKET_ERROR)
            return n;
        return ::WSAGetLastError() == WSAEWOULDBLOCK ? -1 : -2;
    }

    bool ShutdownSend() override { return ::shutdown(m_socket, SD_SEND) == 0; }

private:
    SOCKET m_socket;
    int m_nState;
};

} // namespace

std::unique_ptr<CTcpStream> StartTcpConnect(const std::string& address, int nPort) {
    static const bool bReady = InitSocketLayer();
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<u_short>(nPort));
    if (!bReady || nPort <= 0 || nPort > 65535 ||
        ::inet_pton(AF_INET, address.c_str(), &to.sin_addr) != 1)
        return nullptr;
    const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET)
        return nullptr;
    u_long nonBlocking = 1;
    const BOOL one = TRUE;
    if (::ioctlsocket(s, FIONBIO, &nonBlocking) != 0) {
        ::closesocket(s);
        return nullptr;
    }
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
    const int rc = ::connect(s, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    // A refusal known at once is reported by Connected, as one found later.
    const int nState = rc == 0 ? 1 : ::WSAGetLastError() == WSAEWOULDBLOCK ? 0 : -1;
    return std::make_unique<CWinStream>(s, nState);
}

void WaitTcpStreams(const std::vector<CTcpStream*>& streams, const std::vector<bool>& wantWrite,
                    int nMs) {
    fd_set readable;
    fd_set writable;
    fd_set failed;
    FD_ZERO(&readable);
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    for (std::size_t i = 0; i < streams.size() && i < FD_SETSIZE; ++i) {
        const SOCKET s = static_cast<CWinStream*>(streams[i])->Socket();
        FD_SET(s, &readable);
        FD_SET(s, &failed);
        if (i < wantWrite.size() && wantWrite[i])
            FD_SET(s, &writable);
    }
    if (streams.empty()) {
        ::Sleep(static_cast<DWORD>(nMs));
        return;
    }
    timeval wait{nMs / 1000, (nMs % 1000) * 1000};
    ::select(0, &readable, &writable, &failed, &wait);
}

} // namespace plat
