#include "platform/HttpPath.h"

namespace plat {

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
