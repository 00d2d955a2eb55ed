// POSIX local time through the C library (localtime_r, mktime).
#include "platform/LocalTime.h"

#include <ctime>

namespace plat {

namespace {

// The range the Windows C runtime's 64-bit time functions cover (1970 to the year 3000 UTC);
// both platforms refuse times outside it.
constexpr std::int64_t kMaxTime = 32535215999LL;

void FromTm(const std::tm& tm, LocalTime& local) {
    local.nYear = tm.tm_year + 1900;
    local.nMonth = tm.tm_mon + 1;
    local.nDay = tm.tm_mday;
    local.nHour = tm.tm_hour;
    local.nMinute = tm.tm_min;
    local.nSecond = tm.tm_sec;
}

} // namespace

LocalTime GetLocalNow() {
    struct timespec ts {};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    LocalTime local;
    std::tm tm{};
    if (::localtime_r(&ts.tv_sec, &tm) != nullptr)
        FromTm(tm, local);
    local.nMilli = static_cast<int>(ts.tv_nsec / 1000000);
    return local;
}

bool LocalTimeFromEpoch(std::int64_t t, LocalTime& local) {
    if (t < 0 || t > kMaxTime)
        return false;
    const auto tt = static_cast<std::time_t>(t);
    std::tm tm{};
    if (::localtime_r(&tt, &tm) == nullptr)
        return false;
    local = LocalTime{};
    FromTm(tm, local);
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
    const std::time_t tt = std::mktime(&tm);
    if (tt < 0 || tt > kMaxTime)
        return false;
    t = static_cast<std::int64_t>(tt);
    return true;
}

} // namespace plat
