// The local host on the network.
#pragma once

#include <string>

namespace plat {

// Prepares the socket layer for the process (Windows: WSAStartup); false when it cannot.
// POSIX has nothing to prepare.
bool InitSocketLayer();

// The host name (at most maxLength - 1 bytes, as a buffer of maxLength holds it); false when
// the system cannot tell it (LastSocketError says why).
bool GetLocalHostName(std::string& name, std::size_t maxLength);

// The first IPv4 address of a host name in dotted form; false when the name does not resolve
// to one (LastSocketError says why).
bool ResolveFirstIpv4(const std::string& host, std::string& address);

// The socket layer's last error code on this thread (WSAGetLastError; POSIX: the resolver's
// or errno's code, never 0 after a failure).
int LastSocketError();

} // namespace plat
