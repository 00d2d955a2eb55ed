// Local time of the workstation, as the platform's C runtime sees it (time zone and daylight
// saving from the system, or from TZ where the runtime reads it).
#pragma once

#include <cstdint>

namespace plat {

struct LocalTime {
    int nYear = 1970;
    int nMonth = 1; // 1..12
    int nDay = 1;   // 1..31
    int nHour = 0;
    int nMinute = 0;
    int nSecond = 0;
    int nMilli = 0;
};

// Times are those of 1970-01-01 00:00:00 UTC to 3000-12-31 23:59:59 UTC on both platforms (the
// range of the Windows C runtime); conversions outside it fail.

// The current local time with milliseconds.
LocalTime GetLocalNow();

// Local time of an instant (seconds since 1970-01-01 UTC); milliseconds are 0. False when
// the platform cannot represent the instant.
bool LocalTimeFromEpoch(std::int64_t t, LocalTime& local);

// The instant of a local date and time; milliseconds are ignored. Whether daylight saving
// applies is decided by the platform, as mktime does with tm_isdst = -1. Fields out of their
// range are normalised (31 November is 1 December). False when the platform cannot
// represent the result.
bool EpochFromLocalTime(const LocalTime& local, std::int64_t& t);

} // namespace plat
