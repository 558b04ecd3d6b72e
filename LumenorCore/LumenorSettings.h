#pragma once

// The six user settings, once: where each is stored, its default, its range and what each way
// in (the settings file, `set`, the panel) does with a value outside it.

#include <algorithm>
#include <array>
#include <optional>
#include <string_view>

namespace LumenorSettings {

// In the order the command and its replies list them.
enum class Id {
    lidClosedMode,
    keepDisplayOn,
    remoteWakeEnabled,
    remoteWakeInterval,
    stopOnLowBattery,
    minimumBattery
};

struct Setting {
    Id id;
    /// The settings file's key.
    std::string_view key;
    /// The `set` option on the wire ("remote_interval"); the command line spells it with '-'.
    std::string_view option;
    bool isBoolean;
    /// For booleans 0 or 1.
    int defaultValue;
    /// Integers outside minimum...maximum are brought to the nearer end by `set` and when read
    /// from the settings file; booleans are 0...1.
    int minimum;
    int maximum;
    /// A value the settings file may hold outside the range because it turns the feature off
    /// (a floor of 0: never stop for the battery); kept as it is.
    std::optional<int> offValue;
    /// The panel's stepper moves by this much and never below it.
    int panelStep;
    /// How the `set` reply names the setting and its unit when it brought a value within range.
    std::string_view label;
    std::string_view unit;
};

// clang-format off
inline constexpr std::array<Setting, 6> all{{
    // id                    key                   option              bool default min max  off  step label                   unit
    {Id::lidClosedMode,      "lidClosedMode",      "lid",              true,  1,    0,  1,   {}, 1, "Lid-closed mode",      ""},
    {Id::keepDisplayOn,      "keepDisplayOn",      "display",          true,  0,    0,  1,   {}, 1, "Keep display on",      ""},
    {Id::remoteWakeEnabled,  "remoteWakeEnabled",  "remote_wake",      true,  0,    0,  1,   {}, 1, "Remote wake",          ""},
    {Id::remoteWakeInterval, "remoteWakeInterval", "remote_interval",  false, 15,   5,  240, {}, 5, "Remote wake interval", " minutes"},
    {Id::stopOnLowBattery,   "stopOnLowBattery",   "low_battery_stop", true,  1,    0,  1,   {}, 1, "Stop on low battery",  ""},
    {Id::minimumBattery,     "minimumBattery",     "min_battery",      false, 10,   1,  50,  0,  5, "Battery floor",        "%"},
}};
// clang-format on

static_assert(
    [] {
        for (std::size_t i = 0; i < all.size(); ++i)
            if (static_cast<std::size_t>(all[i].id) != i)
                return false;
        return true;
    }(),
    "the table is in the order of Id");

constexpr const Setting& of(Id id) {
    return all[static_cast<std::size_t>(id)];
}

/// `value` brought within the setting's range.
constexpr int clamped(const Setting& setting, long long value) {
    return static_cast<int>(std::clamp<long long>(value, setting.minimum, setting.maximum));
}

/// What the settings file's `value` means: the off value as it is, anything else clamped.
constexpr int fromFile(const Setting& setting, long long value) {
    if (setting.offValue && value == *setting.offValue) {
        return *setting.offValue;
    }
    return clamped(setting, value);
}

} // namespace LumenorSettings
