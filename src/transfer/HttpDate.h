// HTTP dates and the 14-digit local time text the system keeps server times in.
#pragma once

#include "platform/LocalTime.h"

#include <cstdint>
#include <string>

// Seconds added to a date in the GMT forms of HTTP: a GMT wall-clock time becomes the
// wall-clock time of UTC+9, whatever the machine's own zone.
inline constexpr std::int64_t kHttpDateShift = 32400;

// An HTTP date as seconds since 1970 in the local-time sense (see HttpDate.cpp for the
// forms). now gives the current local time for the parts a date lacks.
std::int64_t ParseHttpDateAt(const std::string& text, const plat::LocalTime& now,
                             std::int64_t tNow);

// "YYYYMMDDhhmmss" of the local time of t; empty when the platform cannot represent t.
std::string FormatModifyTime(std::int64_t t);

// The instant of a "YYYYMMDDhhmmss" local time text (missing digits count as 0); false when
// the text names no representable local time.
bool ModifyTimeToEpoch(const std::string& text, std::int64_t& t);
