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

} // namespace plat
