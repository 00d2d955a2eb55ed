// POSIX TCP streams: non-blocking sockets and poll.
#include "platform/Socket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace plat {

namespace {

class CPosixStream : public CTcpStream {
public:
    CPosixStream(int fd, int nState) : m_fd(fd), m_nState(nState) {}
    ~CPosixStream() override { ::close(m_fd); }
    CPosixStream(const CPosixStream&) = delete;
    CPosixStream& operator=(const CPosixStream&) = delete;

    int Fd() const { return m_fd; }

    int Connected() override {
        if (m_nState != 0)
            return m_nState;
        pollfd p{m_fd, POLLOUT, 0};
        if (::poll(&p, 1, 0) <= 0)
            return 0;
        int nError = 0;
        socklen_t length = sizeof nError;
        if (::getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &nError, &length) != 0 || nError != 0)
            m_nState = -1;
        else
            m_nState = 1;
        return m_nState;
    }

    long Send(const char* data, std::size_t size) override {
        const ssize_t n = ::send(m_fd, data, size, MSG_NOSIGNAL);
        if (n >= 0)
            return static_cast<long>(n);
        return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? 0 : -1;
    }

    long Receive(char* buffer, std::size_t size) override {
        const ssize_t n = ::recv(m_fd, buffer, size, 0);
        if (n >= 0)
            return static_cast<long>(n);
        return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? -1 : -2;
    }

    bool ShutdownSend() override { return ::shutdown(m_fd, SHUT_WR) == 0; }

private:
    int m_fd;
    int m_nState;
};

} // namespace

std::unique_ptr<CTcpStream> StartTcpConnect(const std::string& address, int nPort) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<std::uint16_t>(nPort));
    if (nPort <= 0 || nPort > 65535 || ::inet_pton(AF_INET, address.c_str(), &to.sin_addr) != 1)
        return nullptr;
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return nullptr;
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    const int rc = ::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    // A refusal known at once is reported by Connected, as one found later.
    const int nState = rc == 0 ? 1 : errno == EINPROGRESS ? 0 : -1;
    return std::make_unique<CPosixStream>(fd, nState);
}

void WaitTcpStreams(const std::vector<CTcpStream*>& streams, const std::vector<bool>& wantWrite,
                    int nMs) {
    std::vector<pollfd> fds;
    for (std::size_t i = 0; i < streams.size(); ++i) {
        const short events =
            static_cast<short>(POLLIN | (i < wantWrite.size() && wantWrite[i] ? POLLOUT : 0));
        fds.push_back({static_cast<CPosixStream*>(streams[i])->Fd(), events, 0});
    }
    ::poll(fds.data(), static_cast<nfds_t>(fds.size()), nMs);
}

} // namespace plat
