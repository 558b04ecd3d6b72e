#pragma once

#include "LumenorCore/Instant.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

/// One hold keeping the computer awake, as callers see it.
struct LumenorHold {
    std::string id;
    /// What the holder called it; empty when it gave no label.
    std::string label;
    /// When it expires unless extended or released first.
    Instant until;
    /// The process it lasts for, when it is tied to one.
    std::optional<std::int32_t> pid = std::nullopt;

    bool operator==(const LumenorHold&) const = default;
};

/// A logind inhibitor another program holds (who, why, what it blocks, block or delay).
struct LumenorInhibitor {
    std::string who;
    std::string why;
    /// Colon-separated: "sleep:idle", "handle-lid-switch", …
    std::string what;
    std::string mode;
    std::int32_t pid = 0;
    std::int64_t uid = 0;
    /// The owner's user name; empty when the system knows none for the uid.
    std::string user;

    bool operator==(const LumenorInhibitor&) const = default;
};

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
    /// Lid-closed mode can be had: the system grants Lumenor the lid (on Linux, logind's
    /// handle-lid-switch inhibitor; no setup).
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
    /// Every hold in force, the listening window included; none from an app that does not list
    /// them.
    std::optional<std::vector<LumenorHold>> holds = std::nullopt;
    /// Other programs' logind inhibitors; present only in replies that asked logind (status,
    /// inhibitors), empty when there are none.
    std::optional<std::vector<LumenorInhibitor>> otherInhibitors = std::nullopt;
    /// The root helper for scheduled wakes works; none from an app whose lid and wake share one
    /// helper (lidClosedModeAvailable then says it).
    std::optional<bool> wakeHelperReady = std::nullopt;
    /// Another program holding logind's lid switch: its own lid setting decides what closing
    /// the lid does.
    std::optional<std::string> lidHandledBy = std::nullopt;
    /// The mechanisms holding the machine or its display awake now, in a fixed order
    /// ("logind", "portal", "power-manager", "screensaver"); none while nothing is held.
    std::optional<std::vector<std::string>> inhibitorsHeld = std::nullopt;
    /// What keeps Lumenor from doing what it was asked, in words; none when all is well.
    std::optional<std::string> problem = std::nullopt;

    /// One to six lines for a person, joined by line feeds; reads only this record and `now`.
    std::string summary(Instant now) const;

    bool operator==(const LumenorStatus&) const = default;
};
