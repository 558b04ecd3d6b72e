#include "LumenorCore/Calendar.h"

#include <algorithm>
#include <ctime>
#include <limits>

namespace {

using std::chrono::seconds;

std::optional<Instant> instantFromEpochSeconds(long long value) {
    constexpr auto limit = std::chrono::duration_cast<seconds>(Instant::duration::max()).count();
    if (value > limit || value < -limit)
        return std::nullopt;
    return Instant(seconds(value));
}

long long epochSecondsOf(Instant instant) {
    return std::chrono::floor<seconds>(instant).time_since_epoch().count();
}

bool fitsInt(long long value) {
    return value >= std::numeric_limits<int>::min() && value <= std::numeric_limits<int>::max();
}

std::optional<CalendarFields> localFields(Instant instant) {
    const auto whole = static_cast<std::time_t>(epochSecondsOf(instant));
    std::tm tm{};
    ::tzset(); // localtime_r need not notice a changed TZ on its own
    if (::localtime_r(&whole, &tm) == nullptr)
        return std::nullopt;
    return CalendarFields{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                          tm.tm_hour,        tm.tm_min,     tm.tm_sec};
}

std::optional<Instant> localInstant(const CalendarFields& fields) {
    const long long year = static_cast<long long>(fields.year) - 1900;
    if (!fitsInt(year))
        return std::nullopt;
    std::tm tm{};
    tm.tm_year = static_cast<int>(year);
    tm.tm_mon = fields.month - 1;
    tm.tm_mday = fields.day;
    tm.tm_hour = fields.hour;
    tm.tm_min = fields.minute;
    tm.tm_sec = fields.second;
    tm.tm_isdst = -1; // let the zone's rules decide, so a date across a change keeps its time
    tm.tm_wday = -1;  // mktime sets it on success; -1 alone is also a valid result
    const std::time_t result = std::mktime(&tm);
    if (result == static_cast<std::time_t>(-1) && tm.tm_wday == -1)
        return std::nullopt;
    return instantFromEpochSeconds(result);
}

long long floorDivide(long long value, long long divisor) {
    const long long quotient = value / divisor;
    return (value % divisor != 0 && (value < 0) != (divisor < 0)) ? quotient - 1 : quotient;
}

std::optional<CalendarFields> offsetFields(Instant instant, seconds offset) {
    using namespace std::chrono;
    const sys_seconds wall{seconds(epochSecondsOf(instant)) + offset};
    const sys_days day = floor<days>(wall);
    const year_month_day date{day};
    const hh_mm_ss time{wall - day};
    return CalendarFields{
        int(date.year()),          int(unsigned(date.month())), int(unsigned(date.day())),
        int(time.hours().count()), int(time.minutes().count()), int(time.seconds().count())};
}

std::optional<Instant> offsetInstant(const CalendarFields& fields, seconds offset) {
    using namespace std::chrono;
    const long long months = static_cast<long long>(fields.year) * 12 + (fields.month - 1LL);
    const long long year = floorDivide(months, 12);
    if (year < int(std::chrono::year::min()) || year > int(std::chrono::year::max()))
        return std::nullopt;
    const auto month = static_cast<unsigned>(months - year * 12 + 1);
    const sys_days first = year_month_day{std::chrono::year(int(year)), std::chrono::month(month),
                                          std::chrono::day(1)};
    const long long total = first.time_since_epoch().count() * 86400LL +
                            (fields.day - 1LL) * 86400 + fields.hour * 3600LL +
                            fields.minute * 60LL + fields.second - offset.count();
    return instantFromEpochSeconds(total);
}

} // namespace

Calendar Calendar::local() {
    return Calendar(std::nullopt);
}

Calendar Calendar::fixedOffset(std::chrono::seconds eastOfUTC) {
    const seconds day{86400};
    return Calendar(std::clamp(eastOfUTC, -day, day));
}

std::optional<CalendarFields> Calendar::fields(Instant instant) const {
    return offset_ ? offsetFields(instant, *offset_) : localFields(instant);
}

std::optional<Instant> Calendar::instant(const CalendarFields& fields) const {
    return offset_ ? offsetInstant(fields, *offset_) : localInstant(fields);
}
