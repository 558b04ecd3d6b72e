#include "LumenorCore/LumenorStatus.h"
#include "LumenorCore/LumenorWords.h"

#include "LumenorCore/DurationParser.h"

#include <algorithm>
#include <chrono>

namespace {

std::string remaining(Instant until, Instant now) {
    return DurationParser::formatRemaining(std::chrono::duration<double>(until - now).count());
}

// The holds still in force, as the app listed them.
std::vector<LumenorHold> activeHolds(const LumenorStatus& status, Instant now) {
    std::vector<LumenorHold> active;
    for (const LumenorHold& hold : status.holds.value_or(std::vector<LumenorHold>{}))
        if (hold.until > now)
            active.push_back(hold);
    return active;
}

// "build (12m left)", "3 tasks (1h left)", "make (while pid 311 runs)".
std::string holdPhrase(const std::vector<LumenorHold>& holds, Instant now) {
    if (holds.size() > 1) {
        // A hold tied to a process has no end worth showing; the timed ones do.
        std::optional<Instant> latest;
        for (const LumenorHold& hold : holds)
            if (!hold.pid)
                latest = std::max(latest.value_or(hold.until), hold.until);
        const std::string count = std::to_string(holds.size()) + " tasks";
        return latest ? count + " (" + remaining(*latest, now) + " left)" : count;
    }
    const LumenorHold& hold = holds.front();
    const std::string name = hold.label.empty() ? hold.id : hold.label;
    if (hold.pid)
        return name + " (while pid " + std::to_string(*hold.pid) + " runs)";
    return name + " (" + remaining(hold.until, now) + " left)";
}

std::string stateLine(const LumenorStatus& status, Instant now) {
    if (status.awake && status.sessionDescription) {
        std::string line = "☀️ Awake — " + *status.sessionDescription;
        if (status.sessionEndsAt)
            line += " (" + remaining(*status.sessionEndsAt, now) + " left)";
        return line;
    }
    if (const auto holds = activeHolds(status, now); status.awake && !holds.empty())
        return "☀️ Awake — held for " + holdPhrase(holds, now);
    if (status.awake && status.holdUntil && *status.holdUntil > now)
        return "☀️ Awake — held for a task (" + remaining(*status.holdUntil, now) + " left)";
    return "🌙 Normal — the " + LumenorWords::machine() + " follows its usual sleep settings";
}

std::string problemLine(const LumenorStatus& status) {
    return status.problem ? "⚠️ " + *status.problem : std::string();
}

std::string lidLine(const LumenorStatus& status) {
    if (status.lidClosedMode && status.lidHandledBy)
        return "⚠️ " + *status.lidHandledBy +
               " handles the lid itself — its own lid setting decides what closing the lid does";
    if (status.lidClosedModeActive)
        return "💻 Lid-closed mode ON — stays awake with the lid shut";
    if (status.lidClosedMode && !status.lidClosedModeAvailable)
        return status.wakeHelperReady.has_value()
                   ? "⚠️ Lid-closed mode is unavailable: the system won't let Lumenor hold the "
                     "lid"
                   : "⚠️ Lid-closed mode needs one-time setup: run `lumenor setup`";
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
    if (status.wakeHelperReady == false)
        return "⚠️ Remote wake needs one-time setup: run `lumenor setup`";
    return "📡 Remote wake checks every " + std::to_string(status.remoteWakeIntervalMinutes) +
           " min while asleep";
}

std::string powerLine(const LumenorStatus& status) {
    if (!status.batteryPercent)
        return {};
    std::string percent = std::to_string(*status.batteryPercent) + "%";
    return status.onBattery ? "🔋 Battery " + percent : "🔌 Power adapter (" + percent + ")";
}

std::string inhibitorLine(const LumenorStatus& status) {
    if (!status.otherInhibitors || status.otherInhibitors->empty())
        return {};
    std::string line = "🔒 Other programs' inhibitors:";
    for (const LumenorInhibitor& inhibitor : *status.otherInhibitors) {
        line += (&inhibitor == &status.otherInhibitors->front() ? " " : "; ") + inhibitor.who +
                " (" + inhibitor.mode + " " + inhibitor.what + ": " + inhibitor.why + ")";
    }
    return line;
}

} // namespace

std::string LumenorStatus::summary(Instant now) const {
    std::string text = stateLine(*this, now);
    for (const std::string& line : {problemLine(*this), lidLine(*this), sleepLine(*this, now),
                                    remoteLine(*this), powerLine(*this), inhibitorLine(*this)}) {
        if (!line.empty())
            text += "\n" + line;
    }
    return text;
}
