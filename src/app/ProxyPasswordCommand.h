// "KestrelSync.exe --set-proxy-password": the proxy password for PROXY_USER, read from
// standard input (one line) and kept protected for this machine (platform/Secret.h).
#pragma once

#include <iosfwd>
#include <string>

inline constexpr const char* kSetProxyPasswordSwitch = "--set-proxy-password";

// 0 when the password read from input is stored under programDir; 2 when it is refused (no
// password given, the platform keeps none, the file cannot be written), with a one-line reason
// on errors. The password is never written anywhere else.
int SetProxyPassword(const std::string& programDir, std::istream& input, std::ostream& errors);
