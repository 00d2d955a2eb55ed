// Joining and splitting local paths with the platform's separator.
#pragma once

#include <string>
#include <string_view>

namespace plat {

#ifdef _WIN32
inline constexpr char kPathSep = '\\';
#else
inline constexpr char kPathSep = '/';
#endif

// True for the platform's separator; on Windows "/" counts as well.
constexpr bool IsPathSep(char c) {
#ifdef _WIN32
    return c == '\\' || c == '/';
#else
    return c == '/';
#endif
}

// "a" + separator + "b"; no separator is doubled when a already ends with one.
std::string JoinPath(std::string_view a, std::string_view b);

// Position of the last separator in path, or std::string_view::npos.
std::size_t LastSepPos(std::string_view path);

} // namespace plat
