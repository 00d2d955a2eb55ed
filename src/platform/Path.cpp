#include "platform/Path.h"

namespace plat {

std::string JoinPath(std::string_view a, std::string_view b) {
    std::string path(a);
    if (!path.empty() && !IsPathSep(path.back()))
        path += kPathSep;
    path += b;
    return path;
}

std::size_t LastSepPos(std::string_view path) {
    for (std::size_t i = path.size(); i > 0; --i) {
        if (IsPathSep(path[i - 1]))
            return i - 1;
    }
    return std::string_view::npos;
}

std::string ResolveAgainstBase(std::string_view base, std::string_view path) {
    if constexpr (kDrivePaths) {
        if (path.size() >= 2 && path[1] == ':')
            return std::string(path);
        if (!path.empty() && path[0] == '\\') {
            const std::size_t colon = base.find(':');
            return std::string(colon != std::string_view::npos ? base.substr(0, colon + 1) : base) +
                   std::string(path);
        }
    } else {
        if (!path.empty() && path[0] == '/')
            return std::string(path);
    }
    return std::string(base) + std::string(path);
}

std::string PathKey(std::string_view path) {
    std::string key;
    std::size_t nFirst = 0; // the root (a drive, a leading separator) is never taken back
    if (kDrivePaths && path.size() >= 2 && path[1] == ':') {
        key = std::string(path.substr(0, 2));
        nFirst = 2;
    }
    if (nFirst < path.size() && IsPathSep(path[nFirst]))
        key += kPathSep;
    const std::size_t nRoot = key.size();
    std::size_t start = nFirst;
    while (start <= path.size()) {
        std::size_t end = start;
        while (end < path.size() && !IsPathSep(path[end]))
            ++end;
        const std::string_view part = path.substr(start, end - start);
        if (part == "..") {
            const std::size_t sep = key.size() > nRoot ? LastSepPos(key) : std::string::npos;
            key.resize(sep == std::string::npos || sep < nRoot ? nRoot : sep);
        } else if (!part.empty() && part != ".") {
            if (key.size() > nRoot)
                key += kPathSep;
            key += part;
        }
        start = end + 1;
    }
    if constexpr (kDrivePaths) {
        for (char& c : key) {
            if (c >= 'A' && c <= 'Z')
                c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return key;
}

} // namespace plat
