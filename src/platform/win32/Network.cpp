// Winsock host name and address lookup.
#include "platform/Network.h"

#include <winsock2.h>
#include <ws2tcpip.h>

namespace plat {

bool InitSocketLayer() {
    WSADATA data;
    return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

bool GetLocalHostName(std::string& name, std::size_t maxLength) {
    std::string buf(maxLength + 1, '\0');
    if (maxLength == 0 || ::gethostname(&buf[0], static_cast<int>(maxLength)) != 0)
        return false;
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
        if (rc != 0)
            ::WSASetLastError(rc);
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
    return ::WSAGetLastError();
}

} // namespace plat
