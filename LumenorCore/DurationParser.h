#pragma once

#include "LumenorCore/Calendar.h"
#include "LumenorCore/Instant.h"

#include <optional>
#include <string>
#include <string_view>

/// Durations and clock times as people and agents type them, and the two ways seconds are shown.
namespace DurationParser {

/// The largest duration `parse` accepts and the bound both formatters clamp to (366 days).
inline constexpr double maximum = 31'622'400.0;

/// Seconds in (0, maximum] for texts such as "30m", "1h30m", "90" (minutes); none otherwise.
std::optional<double> parse(std::string_view text);

/// The next instant strictly after `now` at which the clock time ("18:30", "6pm") occurs in
/// `calendar`'s time zone; none when the text is not a clock time.
std::optional<Instant> parseClock(std::string_view text, Instant now,
                                  const Calendar& calendar = Calendar::local());

/// "1 hour 30 minutes", "59 seconds": for confirmations.
std::string formatSpoken(double seconds);

/// "1h 05m", "4m 09s", "38s", "1d 1h": for countdowns, rounded down.
std::string formatRemaining(double seconds);

} // namespace DurationParser
