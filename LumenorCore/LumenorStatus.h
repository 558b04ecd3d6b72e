#pragma once

#include "LumenorCore/Instant.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

/// A snapshot of the app's state for clients.
struct LumenorStatus {
    bool awake;
    /// The active session's title; none when there is no session.
    std::optional<std::string> sessionDescription = std::nullopt;
    /// When the active session ends, for a session that has an end.
    std::optional<Instant> sessionEndsAt = std::nullopt;
    /// The latest expiry among the holds still in force.
    std::optional<Instant> holdUntil = std::nullopt;
    bool lidClosedMode;
    bool lidClosedModeActive;
    /// The privileged helper is installed and ready.
    bool lidClosedModeAvailable;
    bool keepDisplayOn;
    /// The earliest time of a pending sleep request.
    std::optional<Instant> pendingSleepAt = std::nullopt;
    /// The process a pending sleep waits for.
    std::optional<std::int32_t> pendingSleepWaitingForPid = std::nullopt;
    bool remoteWakeEnabled;
    std::int64_t remoteWakeIntervalMinutes;
    bool remoteWakeCycleArmed;
    bool onBattery;
    /// Charge in percent, when known.
    std::optional<std::int64_t> batteryPercent = std::nullopt;
    /// The mechanisms holding the machine or its display awake now, in a fixed order
    /// ("logind", "portal", "power-manager", "screensaver"); none while nothing is held.
    std::optional<std::vector<std::string>> inhibitorsHeld = std::nullopt;
    /// What keeps Lumenor from doing what it was asked, in words; none when all is well.
    std::optional<std::string> problem = std::nullopt;

    /// One to six lines for a person, joined by line feeds; reads only this record and `now`.
    std::string summary(Instant now) const;

    bool operator==(const LumenorStatus&) const = default;
};
