// Durations and clock times as people and agents type them.

#include "FuzzCheck.h"

#include "LumenorCore/DurationParser.h"

#include <chrono>
#include <cstdint>
#include <cstring>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace std::chrono;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (const auto seconds = DurationParser::parse(text)) {
        FUZZ_CHECK(*seconds > 0 && *seconds <= DurationParser::maximum);
        FUZZ_CHECK(!DurationParser::formatSpoken(*seconds).empty());
    }
    const Instant now = sys_days{2026y / 3 / 29} + 1h + 30min;
    for (const auto offset : {hours(0), hours(-10), hours(14)}) {
        if (const auto at = DurationParser::parseClock(text, now, Calendar::fixedOffset(offset)))
            FUZZ_CHECK(*at > now && *at <= now + hours(24));
    }
    // The formatters take any number a caller may compute, even a nonsense one.
    if (size >= sizeof(double)) {
        double any = 0;
        std::memcpy(&any, data, sizeof any);
        FUZZ_CHECK(!DurationParser::formatRemaining(any).empty());
        DurationParser::formatSpoken(any);
    }
    return 0;
}
