#pragma once

#include "LumenorCore/Instant.h"

#include <algorithm>
#include <chrono>
#include <cmath>

/// `instant` moved by `seconds`; not-a-number counts as 0 and the shift is bounded to about
/// a century either way, so no caller input can overflow the clock's range.
inline Instant addSeconds(Instant instant, double seconds) {
    constexpr double bound = 100.0 * 366 * 24 * 3600;
    if (std::isnan(seconds)) {
        seconds = 0;
    }
    seconds = std::clamp(seconds, -bound, bound);
    return instant +
           std::chrono::duration_cast<Instant::duration>(std::chrono::duration<double>(seconds));
}

/// Seconds from `from` to `to`, negative when `to` is earlier.
inline double secondsBetween(Instant from, Instant to) {
    return std::chrono::duration<double>(to - from).count();
}

/// Whole seconds since the Unix epoch, the fraction dropped.
inline long long epochSeconds(Instant instant) {
    return std::chrono::duration_cast<std::chrono::seconds>(instant.time_since_epoch()).count();
}
