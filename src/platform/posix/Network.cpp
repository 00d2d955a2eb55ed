// POSIX host name and address lookup.
#include "platform/Network.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace plat {

namespace {

thread_local int t_nSocketError = 0;

} // namespace

bool InitSocketLayer() {
    return true;
}

bool GetLocalHostName(std::string& name, std::size_t maxLength) {
    std::string buf(maxLength + 1, '\0');
    if (maxLength == 0 || ::gethostname(&buf[0], maxLength) != 0) {
        t_nSocketError = errno != 0 ? errno : EINVAL;
        return false;
    }
    buf[maxLength - 1] = '\0';
    name = buf.c_str();
    return true;
}

bool ResolveFirstIpv4(const std::string& host, std::string& address) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* result = nullptr;
    const int rc = ::getaddrinfo(host.c_str(), nullptr, &hints, &result);
    if (rc != 0 || result == nullptr) {
        t_nSocketError = rc != 0 ? rc : EAI_NONAME;
        return false;
    }
    char text[INET_ADDRSTRLEN] = {};
    const auto* in = reinterpret_cast<const sockaddr_in*>(result->ai_addr);
    ::inet_ntop(AF_INET, &in->sin_addr, text, sizeof text);
    ::freeaddrinfo(result);
    address = text;
    return true;
}

int LastSocketError() {
    return t_nSocketError;
}

} // namespace plat
