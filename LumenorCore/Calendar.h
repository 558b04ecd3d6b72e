#pragma once

#include "LumenorCore/Instant.h"

#include <chrono>
#include <optional>

/// The wall-clock reading of a moment in one time zone. Months and days count from 1.
struct CalendarFields {
    int year = 1970;
    int month = 1;
    int day = 1;
    int hour = 0;
    int minute = 0;
    int second = 0;

    bool operator==(const CalendarFields&) const = default;
};

/// Converts between instants and wall-clock fields in one time zone: either the C library's
/// local zone (so `TZ` applies) or a fixed offset from UTC without daylight saving.
class Calendar {
public:
    /// The process's local time zone, read afresh on every conversion.
    static Calendar local();
    /// A zone `eastOfUTC` ahead of UTC all year round (clamped to one day either way).
    static Calendar fixedOffset(std::chrono::seconds eastOfUTC);

    /// The wall-clock fields at `instant`, fractions of a second dropped; none when the C
    /// library cannot represent it.
    std::optional<CalendarFields> fields(Instant instant) const;

    /// The instant the fields name. Fields out of range carry over (day 32 is a day of the next
    /// month, so adding one to `day` is "the next calendar day, same wall-clock time"); a time in
    /// a daylight-saving gap or overlap gets whatever instant the C library chooses. None when
    /// the result cannot be represented.
    std::optional<Instant> instant(const CalendarFields& fields) const;

private:
    explicit Calendar(std::optional<std::chrono::seconds> offset) : offset_(offset) {}

    std::optional<std::chrono::seconds> offset_; // none: the local zone
};
