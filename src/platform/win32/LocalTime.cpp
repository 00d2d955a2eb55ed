// Win32 local time through the C runtime (_localtime64_s, _mktime64), as the framework's time
// classes use it, so that TZ is honoured the same way everywhere in the program.
#include "platform/LocalTime.h"

#include <windows.h>

#include <ctime>

namespace plat {

namespace {

bool FromEpoch(__time64_t t, LocalTime& local) {
    std::tm tm{};
    if (::_localtime64_s(&tm, &t) != 0)
        return false;
    local.nYear = tm.tm_year + 1900;
    local.nMonth = tm.tm_mon + 1;
    local.nDay = tm.tm_mday;
    local.nHour = tm.tm_hour;
    local.nMinute = tm.tm_min;
    local.nSecond = tm.tm_sec;
    return true;
}

} // namespace

LocalTime GetLocalNow() {
    FILETIME ft{};
    ::GetSystemTimeAsFileTime(&ft);
    const std::uint64_t ticks =
        ((static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime) -
        116444736000000000ULL;
    LocalTime local;
    FromEpoch(static_cast<__time64_t>(ticks / 10000000ULL), local);
    local.nMilli = static_cast<int>((ticks / 10000ULL) % 1000ULL);
    return local;
}

bool LocalTimeFromEpoch(std::int64_t t, LocalTime& local) {
    LocalTime result;
    if (!FromEpoch(static_cast<__time64_t>(t), result))
        return false;
    local = result;
    return true;
}

bool EpochFromLocalTime(const LocalTime& local, std::int64_t& t) {
    std::tm tm{};
    tm.tm_year = local.nYear - 1900;
    tm.tm_mon = local.nMonth - 1;
    tm.tm_mday = local.nDay;
    tm.tm_hour = local.nHour;
    tm.tm_min = local.nMinute;
    tm.tm_sec = local.nSecond;
    tm.tm_isdst = -1;
    const __time64_t tt = ::_mktime64(&tm);
    if (tt == -1)
        return false;
    t = static_cast<std::int64_t>(tt);
    return true;
}

} // namespace plat
