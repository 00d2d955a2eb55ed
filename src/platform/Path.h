// Local paths: the platform's separator, joining and splitting, and what "absolute" means.
// The decisions are made here, once; the rest of the program asks.
#pragma once

#include <string>
#include <string_view>

namespace plat {

#ifdef _WIN32
// Windows paths: "\" (and "/") separate folders, a drive ("C:") or a leading "\" is absolute.
inline constexpr bool kDrivePaths = true;
#else
// POSIX paths: "/" separates folders, a leading "/" is absolute.
inline constexpr bool kDrivePaths = false;
#endif

inline constexpr char kPathSep = kDrivePaths ? '\\' : '/';

// True for the platform's separator; on Windows "/" counts as well.
constexpr bool IsPathSep(char c) {
    return c == kPathSep || (kDrivePaths && c == '/');
}

// "a" + separator + "b"; no separator is doubled when a already ends with one.
std::string JoinPath(std::string_view a, std::string_view b);

// Position of the last separator in path, or std::string_view::npos.
std::size_t LastSepPos(std::string_view path);

// path made absolute against base (a folder that ends with the separator): an absolute path
// stays as it is; a path from the root (Windows: a leading "\") goes on base's drive, or after
// base when base names no drive; anything else goes after base.
std::string ResolveAgainstBase(std::string_view base, std::string_view path);

// A key under which two spellings of one local path compare equal: every separator the
// platform's, empty and "." parts dropped, ".." taking back the part before it, and on Windows
// the ASCII letters in one case (its file names compare without case). The file system is not
// asked: links and short names are not resolved.
std::string PathKey(std::string_view path);

} // namespace plat
