// The proxy a session uses: the system's settings, none, or one fixed server with hosts that
// bypass it and the account for Basic/Digest. ProxyFor is the one place that decides whether a
// host goes through the fixed server; both HTTP clients and the pipelined HEADs ask it.
#pragma once

#include <string>
#include <vector>

namespace plat {

struct HttpProxy {
    enum EMode { kSystem, kDirect, kServer };
    // kSystem: Windows takes WinINet's configuration (fixed proxy, PAC script, automatic
    // detection) of the account the process runs under; POSIX takes http_proxy/https_proxy/
    // no_proxy from the environment. Loopback addresses go direct in this mode only.
    EMode nMode = kSystem;
    std::string strHost; // kServer: the proxy's host name or address
    int nPort = 0;       // kServer: 1 to 65535
    // kServer: hosts that go direct, without case; "*.example.com" matches below that domain,
    // ".example.com" too, any other entry the whole host name.
    std::vector<std::string> bypass;
    // Basic/Digest account; empty: only what the platform answers by itself (Negotiate/NTLM
    // with the account the process runs under). Never logged.
    std::string strUser;
    std::string strPassword;
};

// Reads PROXY_SERVER ("host:port", or "DIRECT" without case) and PROXY_BYPASS (entries
// separated by ";" or ","). Empty text: kSystem. False, with proxy left at kSystem, when the
// server text does not parse (no host, no port, a port outside 1-65535, blanks, a scheme).
bool ParseHttpProxy(const std::string& server, const std::string& bypass, HttpProxy& proxy);

// "host:port" ("[v6 address]:port"), the port 1 to 65535, without blanks, scheme, account or
// path; the host without brackets. False, and nothing set, when the text is not one.
bool ParseHostPort(const std::string& text, std::string& host, int& nPort);

// "host:port" of a kServer proxy.
std::string ProxyServerText(const HttpProxy& proxy);

// Whether a request to host goes through the fixed server of proxy: only in kServer mode, and
// then for every host, loopback included, that no bypass entry names.
bool ProxyFor(const HttpProxy& proxy, const std::string& host);

} // namespace plat
