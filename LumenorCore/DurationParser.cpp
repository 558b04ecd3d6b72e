#include "LumenorCore/DurationParser.h"

#include "LumenorCore/Utf8.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <vector>

namespace DurationParser {
namespace {

constexpr std::size_t longestDuration = 32; // characters, after trimming

// Space separators of every kind and the tab; line breaks are not blanks.
bool isBlank(char32_t c) {
    return c == U' ' || c == U'\t' || c == 0x00A0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) ||
           c == 0x202F || c == 0x205F || c == 0x3000;
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

bool isAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

std::string_view trimBlanks(std::string_view text) {
    while (!text.empty()) {
        const Utf8::Decoded first = Utf8::decode(text);
        if (!first.valid || !isBlank(first.codePoint))
            break;
        text.remove_prefix(first.length);
    }
    while (!text.empty()) {
        // Step back over at most three continuation bytes to the last code point's start.
        std::size_t start = text.size() - 1;
        while (start > 0 && text.size() - start < 4 &&
               (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80)
            --start;
        const Utf8::Decoded last = Utf8::decode(text.substr(start));
        if (!last.valid || last.length != text.size() - start || !isBlank(last.codePoint))
            break;
        text.remove_suffix(last.length);
    }
    return text;
}

// Only ASCII letters matter to the grammar, so ASCII lower-casing is enough.
std::string normalised(std::string_view text) {
    std::string result(trimBlanks(text));
    for (char& c : result)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return result;
}

// Digits with at most one point and at least one digit, read independently of the locale.
std::optional<double> readDecimal(std::string_view text) {
    const bool wellFormed =
        std::all_of(text.begin(), text.end(), [](char c) { return isDigit(c) || c == '.'; }) &&
        std::count(text.begin(), text.end(), '.') <= 1 &&
        std::any_of(text.begin(), text.end(), isDigit);
    if (!wellFormed)
        return std::nullopt;
    double value = 0;
    const auto [end, error] =
        std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

// An optional sign and ASCII digits, nothing else.
std::optional<long long> readInteger(std::string_view text) {
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    const std::string_view digits = text.substr(!text.empty() && text.front() == '-' ? 1 : 0);
    if (digits.empty() || !std::all_of(digits.begin(), digits.end(), isDigit))
        return std::nullopt;
    long long value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

std::optional<double> unitFactor(char unit) {
    switch (unit) {
    case 's':
        return 1.0;
    case 'm':
        return 60.0;
    case 'h':
        return 3600.0;
    case 'd':
        return 86400.0;
    default:
        return std::nullopt;
    }
}

// "1h30m", "1 5m", "30m1h": number–unit groups summed.
std::optional<double> unitGroups(std::string_view text) {
    std::string buffer;
    double total = 0;
    bool sawUnit = false;
    for (const char c : text) {
        if (isDigit(c) || c == '.') {
            buffer += c;
        } else if (c != ' ') {
            const auto number = readDecimal(buffer);
            const auto factor = unitFactor(c);
            if (!number || !factor)
                return std::nullopt;
            total += *number * *factor;
            buffer.clear();
            sawUnit = true;
        }
    }
    if (!sawUnit || !buffer.empty() || !(total > 0))
        return std::nullopt;
    return total;
}

std::optional<double> parseUnbounded(std::string_view input) {
    const std::string text = normalised(input);
    if (text.empty() || Utf8::length(text) > longestDuration)
        return std::nullopt;
    // Every character outside ASCII would end in a refusal further down.
    if (!isAscii(text))
        return std::nullopt;
    const bool bare =
        std::all_of(text.begin(), text.end(), [](char c) { return isDigit(c) || c == '.'; });
    if (bare) {
        if (const auto minutes = readDecimal(text))
            return *minutes > 0 ? std::optional(*minutes * 60) : std::nullopt;
    }
    return unitGroups(text);
}

bool dropSuffix(std::string& text, std::string_view suffix) {
    if (!text.ends_with(suffix))
        return false;
    text = normalised(std::string_view(text).substr(0, text.size() - suffix.size()));
    return true;
}

std::vector<std::string_view> nonEmptyPieces(std::string_view text, char separator) {
    std::vector<std::string_view> pieces;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find(separator), text.size());
        if (end > 0)
            pieces.push_back(text.substr(0, end));
        text.remove_prefix(std::min(end + 1, text.size()));
    }
    return pieces;
}

enum class Suffix { none, am, pm };

// The hour on a 24-hour clock, or none when it is out of range for the suffix.
std::optional<int> twentyFourHour(long long hour, Suffix suffix) {
    if (suffix == Suffix::none)
        return hour >= 0 && hour <= 23 ? std::optional(int(hour)) : std::nullopt;
    if (hour < 1 || hour > 12)
        return std::nullopt;
    if (suffix == Suffix::am)
        return hour == 12 ? 0 : int(hour);
    return hour == 12 ? 12 : int(hour) + 12;
}

struct ClockTime {
    int hour;
    int minute;
};

std::optional<ClockTime> readClockTime(std::string_view input) {
    std::string text = normalised(input);
    Suffix suffix = Suffix::none;
    if (dropSuffix(text, "am"))
        suffix = Suffix::am;
    if (dropSuffix(text, "pm"))
        suffix = Suffix::pm;
    const auto pieces = nonEmptyPieces(text, ':');
    if (pieces.empty() || pieces.size() > 2)
        return std::nullopt;
    const auto hour = readInteger(pieces[0]);
    const auto minute = pieces.size() == 2 ? readInteger(pieces[1]) : std::optional(0LL);
    if (!hour || !minute || *minute < 0 || *minute > 59)
        return std::nullopt;
    const auto clockHour = twentyFourHour(*hour, suffix);
    if (!clockHour)
        return std::nullopt;
    return ClockTime{*clockHour, static_cast<int>(*minute)};
}

// Whole seconds, halves away from zero, never negative; out-of-range values clamp.
long long wholeSeconds(double seconds) {
    if (!std::isfinite(seconds))
        return 0;
    return std::max(0LL, std::llround(std::clamp(seconds, -maximum, maximum)));
}

std::string counted(long long count, const char* unit) {
    return std::to_string(count) + " " + unit + (count == 1 ? "" : "s");
}

std::string printed(const char* format, long long first, long long second) {
    char text[64];
    std::snprintf(text, sizeof text, format, first, second);
    return text;
}

} // namespace

std::optional<double> parse(std::string_view text) {
    const auto total = parseUnbounded(text);
    if (!total || !std::isfinite(*total) || *total > maximum)
        return std::nullopt;
    return total;
}

std::optional<Instant> parseClock(std::string_view text, Instant now, const Calendar& calendar) {
    const auto time = readClockTime(text);
    const auto today = calendar.fields(now);
    if (!time || !today)
        return std::nullopt;
    CalendarFields wanted = *today;
    wanted.hour = time->hour;
    wanted.minute = time->minute;
    wanted.second = 0;
    const auto candidate = calendar.instant(wanted);
    if (!candidate)
        return std::nullopt;
    if (*candidate > now)
        return candidate;
    // The same wall-clock time tomorrow, which is not always 24 hours away.
    wanted.day += 1;
    const auto tomorrow = calendar.instant(wanted);
    if (!tomorrow || *tomorrow <= now)
        return std::nullopt;
    return tomorrow;
}

std::string formatSpoken(double seconds) {
    const long long s = wholeSeconds(seconds);
    if (s >= 3600) {
        std::string text = counted(s / 3600, "hour");
        if (s % 3600 >= 60)
            text += " " + counted(s % 3600 / 60, "minute");
        return text;
    }
    if (s < 60)
        return counted(s, "second");
    return counted(s / 60, "minute");
}

std::string formatRemaining(double seconds) {
    // Down, never up: right after `on --for 10m` there is less than 10m left, never more.
    const long long s = wholeSeconds(std::floor(seconds));
    if (s >= 86400)
        return printed("%lldd %lldh", s / 86400, s % 86400 / 3600);
    if (s >= 3600)
        return printed("%lldh %02lldm", s / 3600, s % 3600 / 60);
    if (s >= 60)
        return printed("%lldm %02llds", s / 60, s % 60);
    return std::to_string(s) + "s";
}

} // namespace DurationParser
