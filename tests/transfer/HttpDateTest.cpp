#include "transfer/HttpDate.h"
#include "engine/SyncEngine.h"
#include "platform/LocalTime.h"
#include "support/TimeZone.h"

#include <gtest/gtest.h>

namespace {

using kstest::ScopedTimeZone;

// The 14-digit text of a parsed date, with "now" fixed at 2026-07-04 10:20:30 local.
std::string Parsed(const std::string& text) {
    const plat::LocalTime now{2026, 7, 4, 10, 20, 30, 0};
    std::int64_t tNow = 0;
    EXPECT_TRUE(plat::EpochFromLocalTime(now, tNow));
    return FormatModifyTime(ParseHttpDateAt(text, now, tNow));
}

TEST(HttpDate, GmtFormsShiftNineHoursInEveryZone) {
    for (const char* zone : {"KST-9", "UTC0", "EST5EDT", "PST8PDT"}) {
        ScopedTimeZone tz(zone);
        EXPECT_EQ(Parsed("Tue, 15 Nov 1994 08:12:31 GMT"), "19941115171231") << zone;
        EXPECT_EQ(Parsed("Wed, 31 Dec 2014 20:00:00 GMT"), "20150101050000") << zone;
        EXPECT_EQ(Parsed("Tuesday, 15-Nov-94 08:12:31 GMT"), "19941115171231") << zone;
        EXPECT_EQ(Parsed("Tue Nov 15 08:12:31 1994"), "19941115171231") << zone;
        EXPECT_EQ(Parsed("Thu, 01-Jan-26 00:00:00 GMT"), "20260101090000") << zone;
    }
}

TEST(HttpDate, FieldsTakenByPosition) {
    ScopedTimeZone tz("KST-9");
    const std::pair<const char*, const char*> cases[] = {
        // An unknown month name (case counts) takes the current month.
        {"Tue, 15 nov 1994 08:12:31 GMT", "19940715171231"},
        {"Tue, 15 XYZ 1994 08:12:31 GMT", "19940715171231"},
        // Runs of blanks make no empty tokens; the zone token is not read.
        {"Tue,  15   Nov 1994  08:12:31 PST", "19941115171231"},
        {"Tue, 15 Nov 1994 08:12:31 GMT extra tokens", "19941115171231"},
        // Out-of-range fields are normalised as local times are.
        {"Tue, 31 Nov 2026 23:00:00 GMT", "20261202080000"},
        // A short clock token reads what it has.
        {"Tue, 15 Nov 1994 08 GMT", "19941115170000"},
        // Numeric local forms take no shift.
        {"2026-12-07 09:30:00", "20261207093000"},
        {"2026/12/07 09:30", "20261207093000"},
        {"2026-12-07T09:30:05", "20261207093005"},
        {"2026-12-07", "20261207000000"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Parsed(c.first), c.second) << c.first;
}

TEST(HttpDate, UnreadableDatesGiveTheCurrentTime) {
    ScopedTimeZone tz("KST-9");
    for (const char* text : {"", " ", "garbage", "Tue, 15 Nov", "2026-13-45 99:99:99",
                             "Tuesday, 15-Nov-94 08:12:31 PST", "Tue Nov 15 25:12:31 1994",
                             "Tue, 15 Nov 1800 08:12:31 GMT", "Tue, 15 Nov 99999 08:12:31 GMT",
                             "\x01\x02\xff\xfe", "2026--12-07", "::::", "Mon Jan 1 1:2:3 0"})
        EXPECT_EQ(Parsed(text), "20260704102030") << text;
}

TEST(HttpDate, NowIsTheClock) {
    const std::int64_t before = static_cast<std::int64_t>(std::time(nullptr));
    const std::int64_t t = CSyncEngine::ParseHttpDate("garbage");
    EXPECT_GE(t, before);
    EXPECT_LE(t, before + 5);
}

TEST(ModifyTime, TextAndInstantRoundTrip) {
    ScopedTimeZone tz("EST5EDT");
    for (const char* text : {"20261207093000", "20260704235959", "19700102000000"}) {
        std::int64_t t = 0;
        ASSERT_TRUE(ModifyTimeToEpoch(text, t)) << text;
        EXPECT_EQ(FormatModifyTime(t), text);
    }
    std::int64_t t = 0;
    EXPECT_TRUE(ModifyTimeToEpoch("202612070930001", t)); // digits past 14 are not read
    EXPECT_EQ(FormatModifyTime(t), "20261207093000");
    EXPECT_FALSE(ModifyTimeToEpoch("", t));
    EXPECT_FALSE(ModifyTimeToEpoch("00000000000000", t));
    EXPECT_EQ(FormatModifyTime(-5), "");
}

TEST(EncodeUrl, NonAsciiBytesAreEscaped) {
    const std::pair<std::string, std::string> cases[] = {
        {"bin/한글.dll", "bin/%ED%95%9C%EA%B8%80.dll"},
        {"lumen/version/a b.txt", "lumen/version/a b.txt"},
        {"a%20b?c#d\\e", "a%20b?c#d\\e"},
        {"\xC3\xA9", "%C3%A9"},
        {"\xF0\x9F\x98\x80.png", "%F0%9F%98%80.png"},
        {"raw\xFF", "raw%FF"},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CSyncEngine::EncodeUrl(c.first), c.second) << c.first;
    std::string longKorean;
    for (int i = 0; i < 2000; ++i)
        longKorean += "한";
    EXPECT_EQ(CSyncEngine::EncodeUrl(longKorean).size(), 2000u * 9);
}

} // namespace
