#include "platform/HttpPath.h"

#include <algorithm>

namespace plat {

bool EqualNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; };
               return lower(x) == lower(y);
           });
}

bool IsLoopbackHost(std::string_view host) {
    return EqualNoCase(host, "localhost") || host.substr(0, 4) == "127." || host == "::1" ||
           host == "[::1]";
}

std::string HttpRequestPath(std::string_view objectPath) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(objectPath.size() + 1);
    if (objectPath.empty() || (objectPath[0] != '/' && objectPath[0] != '\\'))
        out += '/';
    for (const char ch : objectPath) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '\\') {
            out += '/';
        } else if (c <= 0x20 || c >= 0x7F || c == '#') {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 0x0F];
        } else {
            out += ch;
        }
    }
    return out;
}

} // namespace plat
