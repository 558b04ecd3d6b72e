#include "LumenorCore/LumenorStatus.h"
#include "LumenorCore/LumenorWords.h"

#include "LumenorCore/DurationParser.h"

#include <chrono>

namespace {

std::string remaining(Instant until, Instant now) {
    return DurationParser::formatRemaining(std::chrono::duration<double>(until - now).count());
}

std::string stateLine(const LumenorStatus& status, Instant now) {
    if (status.awake && status.sessionDescription) {
        std::string line = "☀️ Awake — " + *status.sessionDescription;
        if (status.sessionEndsAt)
            line += " (" + remaining(*status.sessionEndsAt, now) + " left)";
        return line;
    }
    if (status.awake && status.holdUntil && *status.holdUntil > now)
        return "☀️ Awake — held for a task (" + remaining(*status.holdUntil, now) + " left)";
    return "🌙 Normal — the " + LumenorWords::machine() + " follows its usual sleep settings";
}

std::string problemLine(const LumenorStatus& status) {
    return status.problem ? "⚠️ " + *status.problem : std::string();
}

std::string lidLine(const LumenorStatus& status) {
    if (status.lidClosedModeActive)
        return "💻 Lid-closed mode ON — stays awake with the lid shut";
    if (status.lidClosedMode && !status.lidClosedModeAvailable)
        return "⚠️ Lid-closed mode needs one-time setup: run `lumenor setup`";
    return {};
}

std::string sleepLine(const LumenorStatus& status, Instant now) {
    if (status.pendingSleepAt)
        return "😴 Sleeping in " + remaining(*status.pendingSleepAt, now);
    if (status.pendingSleepWaitingForPid)
        return "😴 Will sleep after process " + std::to_string(*status.pendingSleepWaitingForPid) +
               " finishes";
    return {};
}

std::string remoteLine(const LumenorStatus& status) {
    if (!status.remoteWakeEnabled)
        return {};
    return "📡 Remote wake checks every " + std::to_string(status.remoteWakeIntervalMinutes) +
           " min while asleep";
}

std::string powerLine(const LumenorStatus& status) {
    if (!status.batteryPercent)
        return {};
    std::string percent = std::to_string(*status.batteryPercent) + "%";
    return status.onBattery ? "🔋 Battery " + percent : "🔌 Power adapter (" + percent + ")";
}

} // namespace

std::string LumenorStatus::summary(Instant now) const {
    std::string text = stateLine(*this, now);
    for (const std::string& line : {problemLine(*this), lidLine(*this), sleepLine(*this, now),
                                    remoteLine(*this), powerLine(*this)}) {
        if (!line.empty())
            text += "\n" + line;
    }
    return text;
}
