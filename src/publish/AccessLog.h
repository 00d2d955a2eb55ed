// Web-server access logs in the "combined" format (the default of nginx and Apache):
//
//   host ident user [09/Dec/2026:08:00:00 +0900] "GET /path?query HTTP/1.1" 404 153 "referer"
//   "agent"
//
// Fields a server appends after the agent are allowed. Quoted fields may hold \" and \\ as
// Apache writes them. Nothing here trusts a line: anyone who can reach the server writes them.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

struct CAccessLogLine {
    std::int64_t tTime = 0; // the request's time, seconds since 1970 UTC
    int nZoneMinutes = 0;   // the zone the server wrote the time in, minutes east of UTC
    std::string strMethod;  // empty when the request field is not "METHOD target [protocol]"
    std::string strTarget;  // the request target as logged (path and query)
};

// False when line is not in the combined format (its request field may still be no request).
bool ParseAccessLogLine(const std::string& line, CAccessLogLine& parsed);

// Longer lines are no request any server in front of the store accepts; they reach onLine
// with bWhole false and no text.
inline constexpr std::size_t kMaxAccessLogLine = 64 * 1024;

// Calls onLine with every line of the file at path, without its line end (LF or CR LF). The
// file may be gzip-compressed: zlib tells it by its magic bytes, whatever its name, and reads
// any other file as it is. False, with why naming the file, when it cannot be opened or read
// to its end (a compressed file cut short included).
bool ReadAccessLog(const std::string& path,
                   const std::function<void(const std::string& line, bool bWhole)>& onLine,
                   std::string& why);
