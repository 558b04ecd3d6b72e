#include "LumenorCore/DurationParser.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <limits>
#include <string>

using namespace std::chrono;
using namespace DurationParser;

namespace {

constexpr double infinity = std::numeric_limits<double>::infinity();
constexpr double notANumber = std::numeric_limits<double>::quiet_NaN();

Instant utc(int y, unsigned m, unsigned d, int hour, int minute, int second = 0) {
    return sys_days{year{y} / month{m} / day{d}} + hours{hour} + minutes{minute} + seconds{second};
}

// Clock times are read in a zone with daylight saving; nothing else here depends on the zone.
const bool inBerlin = [] {
    ::setenv("TZ", "Europe/Berlin", 1);
    ::tzset();
    return true;
}();

std::optional<Instant> clock(const std::string& text, Instant now) {
    return DurationParser::parseClock(text, now, Calendar::local());
}

} // namespace

TEST(DurationParserTest, ReadsUnitGroupsAndBareMinutesUpToTheLongest) {
    const std::pair<const char*, double> cases[] = {
        {"1d 2h3m4s", 93784}, {"30m1h", 5400},
        {"1 5m", 900},        {".5m", 30},
        {"90", 5400},         {"1.5", 90},
        {"5.", 300},          {" \t2H\u00A0\u3000", 7200},
        {"366d", 31622400},   {"31622400s", 31622400},
        {"527040", 31622400}};
    for (const auto& [text, seconds] : cases)
        EXPECT_EQ(parse(text), seconds) << '"' << text << '"';
    // Blanks around the text do not count towards its length.
    EXPECT_EQ(parse("  \u2003" + std::string(30, '0') + "1m\u2003  "), 60);

    for (const char* text :
         {"", "\t", "0", "0m", "1h30", ".", "30min", "-5m", "5m.", "1e3", "1.2.3m", "30m\n",
          "1\t5m", "\u0663", "1h\u00A030m", "5m\xff", "367d", "31622401s", "527041"})
        EXPECT_EQ(parse(text), std::nullopt) << '"' << text << '"';
    EXPECT_EQ(parse(std::string(31, '0') + "1m"), std::nullopt);
    EXPECT_EQ(parse(std::string(31, '9') + "d"), std::nullopt);
}

TEST(DurationParserTest, FormatsSpokenFormAndCountdown) {
    const std::pair<double, const char*> spoken[] = {
        {5400, "1 hour 30 minutes"}, {3659, "1 hour"},         {3660, "1 hour 1 minute"},
        {7200, "2 hours"},           {90, "1 minute"},         {59.4, "59 seconds"},
        {59.5, "1 minute"},          {1, "1 second"},          {-20, "0 seconds"},
        {1e300, "8784 hours"},       {notANumber, "0 seconds"}};
    for (const auto& [seconds, text] : spoken)
        EXPECT_EQ(formatSpoken(seconds), text) << seconds;

    const std::pair<double, const char*> remaining[] = {
        {59.5, "59s"},    {599.999, "9m 59s"}, {249, "4m 09s"},
        {38, "38s"},      {7500, "2h 05m"},    {86399, "23h 59m"},
        {86400, "1d 0h"}, {infinity, "0s"},    {1e12, "366d 0h"}};
    for (const auto& [seconds, text] : remaining)
        EXPECT_EQ(formatRemaining(seconds), text) << seconds;
}

TEST(DurationParserTest, FindsTheNextOccurrenceOfAClockTime) {
    const Instant fivePM = utc(2024, 6, 12, 15, 0); // 17:00 summer time
    const std::pair<const char*, Instant> cases[] = {
        {"18:30", utc(2024, 6, 12, 16, 30)}, {" 6 PM ", utc(2024, 6, 12, 16, 0)},
        {"12am", utc(2024, 6, 12, 22, 0)},   {"12pm", utc(2024, 6, 13, 10, 0)},
        {"6", utc(2024, 6, 13, 4, 0)},       {"18::30", utc(2024, 6, 12, 16, 30)},
        {":19", utc(2024, 6, 12, 17, 0)},    {"+18:-0", utc(2024, 6, 12, 16, 0)},
        {"17:00", utc(2024, 6, 13, 15, 0)}};
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(clock(text, fivePM), expected) << text;
    EXPECT_EQ(clock("17:00", fivePM - milliseconds(1)), fivePM);
    EXPECT_EQ(clock("18:30", utc(2024, 6, 12, 16, 30, 20)), utc(2024, 6, 13, 16, 30));

    for (const std::string text : {"24:00", "13pm", "0am", "18:60", "18:-1", "18:30:00", "noon",
                                   ":", "6 :30", "\u0661\u0668:30"}) {
        EXPECT_EQ(clock(text, fivePM), std::nullopt) << '"' << text << '"';
    }
}

TEST(DurationParserTest, KeepsTheWallClockTimeAcrossDaylightSavingChanges) {
    // The evening before clocks go forward (31 March 2024, 02:00 becomes 03:00).
    const Instant springEve = utc(2024, 3, 30, 19, 0); // 20:00 winter time
    EXPECT_EQ(clock("21:30", springEve), utc(2024, 3, 30, 20, 30));
    EXPECT_EQ(clock("18:00", springEve), utc(2024, 3, 31, 16, 0)); // 23 hours later
    // 02:30 does not exist that night; whatever the zone makes of it still lies ahead.
    const auto inGap = clock("2:30", springEve);
    ASSERT_TRUE(inGap.has_value());
    EXPECT_GT(*inGap, springEve);
    EXPECT_LE(*inGap - springEve, hours(25));

    // The evening before clocks go back (27 October 2024, 03:00 becomes 02:00).
    const Instant autumnEve = utc(2024, 10, 26, 18, 0);             // 20:00 summer time
    EXPECT_EQ(clock("18:00", autumnEve), utc(2024, 10, 27, 17, 0)); // 25 hours later
    EXPECT_EQ(clock("4:00", autumnEve), utc(2024, 10, 27, 3, 0));
}
