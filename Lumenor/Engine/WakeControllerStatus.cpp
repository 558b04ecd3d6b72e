#include "Lumenor/Engine/InstantMath.h"
#include "Lumenor/Engine/WakeController.h"

#include "LumenorCore/DurationParser.h"
#include "LumenorCore/LumenorPaths.h"
#include "LumenorCore/ProcessTree.h"
#include "LumenorCore/Utf8.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>

namespace {

std::string iso8601(Instant instant) {
    using namespace std::chrono;
    const time_t seconds = floor<std::chrono::seconds>(instant.time_since_epoch()).count();
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[32];
    const size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return std::string(text, length);
}

// The log keeps one event per line, so a message that spans lines (a helper's output, say)
// is folded onto its line.
// One line that a terminal showing the log cannot be steered by.
std::string oneLine(std::string message) {
    for (char& c : message) {
        if (c == '\n' || c == '\r') {
            c = ' ';
        }
    }
    return Utf8::visible(message);
}

// The log is turned over at this size, so that a flood of events cannot fill the disk.
constexpr off_t largestLog = 1'048'576;

// Appends the bytes; returns why not when they could not all be written.
std::optional<std::string> append(const std::filesystem::path& file, const std::string& bytes) {
    try {
        LumenorPaths::createPrivateDirectory(file.parent_path());
    } catch (const std::filesystem::filesystem_error& error) {
        return LumenorPaths::describeFailure(error.code());
    }
    // Never a FIFO or a link put in the log's place: either would block or write elsewhere.
    int fd = LumenorPaths::openRegularFile(file, O_WRONLY | O_APPEND | O_CREAT);
    struct stat info {};
    if (fd >= 0 && ::fstat(fd, &info) == 0 &&
        info.st_size + static_cast<off_t>(bytes.size()) > largestLog) {
        // One older copy is kept; the one before it goes.
        ::close(fd);
        ::rename(file.c_str(), (file.string() + ".1").c_str());
        fd = LumenorPaths::openRegularFile(file, O_WRONLY | O_APPEND | O_CREAT);
    }
    if (fd < 0) {
        return LumenorPaths::describeFailure(std::error_code(errno, std::system_category()));
    }
    size_t written = 0;
    int error = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n <= 0) {
            error = n < 0 ? errno : EIO;
            break;
        }
        written += static_cast<size_t>(n);
    }
    ::close(fd);
    if (error != 0) {
        return std::error_code(error, std::system_category()).message();
    }
    return std::nullopt;
}

std::optional<Instant> latest(const std::map<std::string, Hold>& holds,
                              std::optional<Instant> result) {
    for (const auto& [id, hold] : holds) {
        if (!result || hold.until > *result) {
            result = hold.until;
        }
    }
    return result;
}

} // namespace

void WakeController::log(const std::string& message, LogEvent::Kind kind) {
    lastEvent_ = LogEvent{kind, message};
    noteChange();
    const auto failure = append(logFile_, iso8601(clock_()) + " " + oneLine(message) + "\n");
    // One line when the log stops taking events, not one per event.
    if (failure && !logFailing_) {
        std::fprintf(stderr,
                     "Lumenor: couldn't write the log %s: %s; events still show in the panel.\n",
                     logFile_.c_str(), failure->c_str());
    }
    logFailing_ = failure.has_value();
}

std::string WakeController::statusLine() const {
    // Read afresh: the panel asks between updates, while its countdown runs.
    const Instant now = clock_();
    const auto remaining = [now](Instant until) {
        return DurationParser::formatRemaining(secondsBetween(now, until));
    };
    const auto active = activeHolds();
    if (pendingSleep_) {
        if (pendingSleep_->waitForPid && ProcessTree::isAlive(*pendingSleep_->waitForPid)) {
            return "Sleeps when the task ends";
        }
        if (!pendingSleep_->force && !active.empty()) {
            return "Sleeps when tasks end";
        }
        const Instant due = std::max(pendingSleep_->notBefore, addSeconds(lastHoldEndedAt_, 10));
        return "Sleeping in " + remaining(due);
    }
    if (keepAwakeProblem_ && isAwake()) {
        return *keepAwakeProblem_;
    }
    if (session_) {
        if (const auto end = session_->kind.endsAt()) {
            return remaining(*end) + " left";
        }
        return session_->title(clock_());
    }
    if (remoteListeningUntil_ && *remoteListeningUntil_ > now_) {
        return "Awake for remote tools";
    }
    const auto named = holdList();
    if (!named.empty()) {
        // A hold tied to a process ends with it; only the timed ones have an end to show.
        std::optional<Instant> timedEnd;
        for (const LumenorHold& hold : named) {
            if (!hold.pid) {
                timedEnd = std::max(timedEnd.value_or(hold.until), hold.until);
            }
        }
        return holdName(named) + " · " +
               (timedEnd            ? remaining(*timedEnd)
                : named.size() == 1 ? std::string("while it runs")
                                    : "while they run");
    }
    if (remoteCycleArmed_) {
        return "Asleep between checks";
    }
    return "Off";
}

std::string WakeController::holdName(const std::vector<LumenorHold>& holds) const {
    if (holds.size() > 1) {
        return std::to_string(holds.size()) + " tasks";
    }
    return holds.front().label.empty() ? holds.front().id : holds.front().label;
}

LumenorStatus WakeController::snapshot() const {
    LumenorStatus status{
        .awake = keptAwake(),
        // Without a lid the setting is kept but not in force, and the status says nothing of it.
        .lidClosedMode = lidClosedMode() && hasLid_,
        .lidClosedModeActive = lidModeActive_,
        .lidClosedModeAvailable = lidAvailable_,
        .keepDisplayOn = keepDisplayOn(),
        .remoteWakeEnabled = remoteWakeEnabled(),
        .remoteWakeIntervalMinutes = remoteWakeInterval(),
        .remoteWakeCycleArmed = remoteCycleArmed_,
        .onBattery = battery_.onBattery,
        .batteryPercent = battery_.percent,
        .wakeHelperReady = wakeHelperReady_,
        .lidHandledBy = lidHandledBy_,
    };
    if (session_) {
        status.sessionDescription = session_->title(clock_());
        status.sessionEndsAt = session_->kind.endsAt();
    }
    // The listening window keeps the machine up like a hold, and callers have read it so.
    const bool listening = remoteListeningUntil_ && *remoteListeningUntil_ > now_;
    status.holdUntil =
        latest(activeHolds(), listening ? remoteListeningUntil_ : std::optional<Instant>());
    status.holds = holdList();
    if (pendingSleep_) {
        status.pendingSleepAt = std::max(now_, pendingSleep_->notBefore);
        status.pendingSleepWaitingForPid = pendingSleep_->waitForPid;
    }
    if (auto held = inhibitorsHeld(); !held.empty()) {
        status.inhibitorsHeld = std::move(held);
    }
    status.problem = problem();
    return status;
}
