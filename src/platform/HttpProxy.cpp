#include "platform/HttpProxy.h"

#include "platform/HttpPath.h"

#include <cstdlib>

namespace plat {

namespace {

std::string Trim(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return std::string();
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

bool ParsePort(const std::string& text, int& nPort) {
    if (text.empty() || text.size() > 5 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    nPort = std::atoi(text.c_str());
    return nPort >= 1 && nPort <= 65535;
}

bool EndsWithNoCase(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           EqualNoCase(std::string_view(text).substr(text.size() - tail.size()), tail);
}

bool BypassMatches(const std::string& entry, const std::string& host) {
    if (entry.compare(0, 2, "*.") == 0)
        return EndsWithNoCase(host, entry.substr(1));
    if (entry[0] == '.')
        return EndsWithNoCase(host, entry);
    return EqualNoCase(entry, host);
}

} // namespace

bool ParseHostPort(const std::string& text, std::string& host, int& nPort) {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0 ||
        text.find_first_of(" \t/@") != std::string::npos)
        return false;
    std::string name = text.substr(0, colon);
    if (name.find(':') != std::string::npos &&
        (name.front() != '[' || name.back() != ']' || name.size() < 3))
        return false;
    int nNumber = 0;
    if (!ParsePort(text.substr(colon + 1), nNumber))
        return false;
    host = name.front() == '[' ? name.substr(1, name.size() - 2) : name;
    nPort = nNumber;
    return true;
}

bool ParseHttpProxy(const std::string& server, const std::string& bypass, HttpProxy& proxy) {
    proxy = HttpProxy();
    const std::string text = Trim(server);
    if (text.empty())
        return true;
    if (EqualNoCase(text, "DIRECT")) {
        proxy.nMode = HttpProxy::kDirect;
        return true;
    }
    if (!ParseHostPort(text, proxy.strHost, proxy.nPort))
        return false;
    proxy.nMode = HttpProxy::kServer;
    std::size_t start = 0;
    while (start <= bypass.size()) {
        const std::size_t end = bypass.find_first_of(";,", start);
        const std::string entry = Trim(bypass.substr(start, end - start));
        if (!entry.empty())
            proxy.bypass.push_back(entry);
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return true;
}

std::string ProxyServerText(const HttpProxy& proxy) {
    const bool bIpv6 = proxy.strHost.find(':') != std::string::npos;
    return (bIpv6 ? "[" + proxy.strHost + "]" : proxy.strHost) + ":" + std::to_string(proxy.nPort);
}

bool ProxyFor(const HttpProxy& proxy, const std::string& host) {
    if (proxy.nMode != HttpProxy::kServer)
        return false;
    for (const std::string& entry : proxy.bypass) {
        if (BypassMatches(entry, host))
            return false;
    }
    return true;
}

} // namespace plat
