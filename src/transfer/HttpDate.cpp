// Date forms:
// - Six or more blank-separated tokens (RFC 1123, "Tue, 15 Nov 1994 08:12:31 GMT"): day,
//   month name, year and hh:mm:ss by position; an unknown month name takes the current
//   month; the zone token is not read; the result is shifted by +9 hours.
// - The two older GMT forms of HTTP, RFC 850 ("Tuesday, 15-Nov-94 08:12:31 GMT") and asctime
//   ("Tue Nov 15 08:12:31 1994"): read as GMT and shifted like RFC 1123, so that a server
//   using them gives the same times.
// - Numeric local dates ("1994-11-15 08:12:31", "1994/11/15", with "T" or a blank before the
//   time, seconds optional): no shift.
// - Anything else: the current time.
#include "transfer/HttpDate.h"

#include "config/SyncConfig.h"
#include "updatelist/StringUtil.h"

#include <cctype>
#include <cstdio>
#include <vector>

namespace {

const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                               "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

int MonthNumber(const std::string& name) {
    for (int i = 0; i < 12; ++i) {
        if (name == kMonths[i])
            return i + 1;
    }
    return 0;
}

// atoi of the two characters at pos of text (0 when text is shorter).
int TwoDigits(const std::string& text, std::size_t pos) {
    return pos < text.size() ? AtoiValue(text.substr(pos, 2)) : 0;
}

bool ToEpoch(int year, int month, int day, int hour, int minute, int second, std::int64_t& t) {
    return plat::EpochFromLocalTime({year, month, day, hour, minute, second, 0}, t);
}

bool AllDigits(const std::string& text) {
    if (text.empty())
        return false;
    for (const char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return false;
    }
    return true;
}

// "hh:mm" or "hh:mm:ss" with one- or two-digit fields.
bool ParseClock(const std::string& text, int& hour, int& minute, int& second) {
    std::vector<std::string> parts;
    SplitString(parts, ":", text);
    if (parts.size() < 2 || parts.size() > 3 || text.find("::") != std::string::npos)
        return false;
    for (const std::string& part : parts) {
        if (!AllDigits(part) || part.size() > 2)
            return false;
    }
    hour = AtoiValue(parts[0]);
    minute = AtoiValue(parts[1]);
    second = parts.size() == 3 ? AtoiValue(parts[2]) : 0;
    return hour < 24 && minute < 60 && second < 62;
}

bool ValidDate(int year, int month, int day) {
    return year >= 1970 && year <= 9999 && month >= 1 && month <= 12 && day >= 1 && day <= 31;
}

// "Tuesday, 15-Nov-94 08:12:31 GMT" (four tokens).
bool ParseRfc850(const std::vector<std::string>& tokens, std::int64_t& t) {
    if (tokens.size() != 4 || tokens[0].empty() || tokens[0].back() != ',' || tokens[3] != "GMT")
        return false;
    std::vector<std::string> date;
    SplitString(date, "-", tokens[1]);
    int hour = 0;
    int minute = 0;
    int second = 0;
    if (date.size() != 3 || !AllDigits(date[0]) || !AllDigits(date[2]) ||
        !ParseClock(tokens[2], hour, minute, second))
        return false;
    int year = AtoiValue(date[2]);
    if (date[2].size() == 2)
        year += year < 70 ? 2000 : 1900;
    const int month = MonthNumber(date[1]);
    const int day = AtoiValue(date[0]);
    return ValidDate(year, month, day) && ToEpoch(year, month, day, hour, minute, second, t);
}

// "Tue Nov 15 08:12:31 1994" (five tokens).
bool ParseAsctime(const std::vector<std::string>& tokens, std::int64_t& t) {
    int hour = 0;
    int minute = 0;
    int second = 0;
    if (tokens.size() != 5 || !AllDigits(tokens[2]) || !AllDigits(tokens[4]) ||
        !ParseClock(tokens[3], hour, minute, second))
        return false;
    const int year = AtoiValue(tokens[4]);
    const int month = MonthNumber(tokens[1]);
    const int day = AtoiValue(tokens[2]);
    return ValidDate(year, month, day) && ToEpoch(year, month, day, hour, minute, second, t);
}

// "1994-11-15", "1994/11/15", optionally followed by "T" or blanks and a clock.
bool ParseNumeric(const std::string& text, std::int64_t& t) {
    std::string date = text;
    std::string clock;
    const std::size_t split = text.find_first_of(" T");
    if (split != std::string::npos) {
        date = text.substr(0, split);
        clock = TrimWhite(text.substr(split + 1));
    }
    std::vector<std::string> parts;
    SplitString(parts, date.find('-') != std::string::npos ? "-" : "/", date);
    if (parts.size() != 3 || parts[0].size() != 4 || date.find("--") != std::string::npos ||
        date.find("//") != std::string::npos)
        return false;
    for (const std::string& part : parts) {
        if (!AllDigits(part) || part.size() > 4)
            return false;
    }
    int hour = 0;
    int minute = 0;
    int second = 0;
    if (!clock.empty() && !ParseClock(clock, hour, minute, second))
        return false;
    const int year = AtoiValue(parts[0]);
    const int month = AtoiValue(parts[1]);
    const int day = AtoiValue(parts[2]);
    return ValidDate(year, month, day) && ToEpoch(year, month, day, hour, minute, second, t);
}

} // namespace

std::int64_t ParseHttpDateAt(const std::string& text, const plat::LocalTime& now,
                             std::int64_t tNow) {
    std::vector<std::string> tokens;
    SplitString(tokens, " ", text);
    std::int64_t t = 0;
    if (tokens.size() >= 6) {
        int month = MonthNumber(tokens[2]);
        if (month == 0)
            month = now.nMonth;
        const std::string& clock = tokens[4];
        if (!ToEpoch(AtoiValue(tokens[3]), month, AtoiValue(tokens[1]), TwoDigits(clock, 0),
                     TwoDigits(clock, 3), TwoDigits(clock, 6), t))
            return tNow;
        return t + kHttpDateShift;
    }
    if (ParseRfc850(tokens, t) || ParseAsctime(tokens, t))
        return t + kHttpDateShift;
    if (ParseNumeric(TrimWhite(text), t))
        return t;
    return tNow;
}

std::string FormatModifyTime(std::int64_t t) {
    plat::LocalTime local;
    if (!plat::LocalTimeFromEpoch(t, local))
        return std::string();
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d%02d%02d%02d%02d%02d", local.nYear, local.nMonth,
                  local.nDay, local.nHour, local.nMinute, local.nSecond);
    return buf;
}

bool ModifyTimeToEpoch(const std::string& text, std::int64_t& t) {
    auto field = [&text](std::size_t pos, std::size_t len) {
        return pos < text.size() ? AtoiValue(text.substr(pos, len)) : 0;
    };
    return ToEpoch(field(0, 4), field(4, 2), field(6, 2), field(8, 2), field(10, 2), field(12, 2),
                   t);
}
