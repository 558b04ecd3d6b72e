#include "Lumenor/Engine/InstantMath.h"
#include "Lumenor/Engine/WakeController.h"

#include "LumenorCore/DurationParser.h"
#include "LumenorCore/ProcessTree.h"

#include <QTimer>

#include <algorithm>

namespace {

constexpr double downloadMeasureEvery = 5;
constexpr double downloadStillFor = 120;
// Holds must have been gone this long before a sleep or the next remote-cycle step.
constexpr double quietAfterHolds = 10;
constexpr double longestInhibitorBackoff = 60;
// The portal's answer to a take comes this soon after its handle.
constexpr double portalAnswerWithin = 1;
// Wall-clock deadlines ride a monotonic timer: looking again now and then catches a clock that
// was set. A timer due already fires no sooner than this, so a deadline that cannot be met
// never spins.
constexpr int longestWaitMs = 10 * 60 * 1000;
constexpr int shortestWaitMs = 100;

} // namespace

void WakeController::update() {
    now_ = clock_();
    expireSession();
    expireHolds();
    remoteCycleStep();
    pendingSleepStep();
    if (batteryTooLow() && lidModeActive_ && !lidOpInFlight_) {
        log("Battery low — lid-closed mode off", LogEvent::Kind::battery);
    }
    // Also takes the inhibitors again when a retry is due; ends in the lid reconciliation.
    applyPowerState();
    syncWaits();
}

std::optional<Instant> WakeController::nextDeadline() const {
    if (sleeping_) {
        return std::nullopt; // the sleep attempt's outcome comes back as an event
    }
    std::optional<Instant> next;
    const auto consider = [&next](Instant at) { next = std::min(next.value_or(at), at); };
    if (session_) {
        if (const auto* until = session_->kind.as<SessionKind::Until>()) {
            consider(until->end);
        } else if (session_->kind.is<SessionKind::File>() && !measuringDownload_) {
            consider(fileWatch_ ? addSeconds(fileWatch_->checkedAt, downloadMeasureEvery) : now_);
        }
    }
    for (const auto& [id, hold] : holds_) {
        consider(hold.until);
    }
    if (remoteListeningUntil_) {
        consider(*remoteListeningUntil_);
    }
    const Instant quietEnd = addSeconds(lastHoldEndedAt_, quietAfterHolds);
    if (pendingSleep_) {
        const bool waitingForPid =
            pendingSleep_->waitForPid && ProcessTree::isAlive(*pendingSleep_->waitForPid);
        if (!waitingForPid && (pendingSleep_->force || holds_.empty())) {
            consider(pendingSleep_->force ? pendingSleep_->notBefore
                                          : std::max(pendingSleep_->notBefore, quietEnd));
        }
    } else if (remoteCycleArmed_ && !awaitingWake_ && !session_ && holds_.empty() &&
               !remoteListeningUntil_) {
        consider(quietEnd);
    }
    if (lidWanted() && lidModeActive_ && !lidOpInFlight_) {
        consider(addSeconds(lastLeaseRenewal_, lidRenewEvery));
    } else if (lidWanted() != lidModeActive_ && !lidOpInFlight_ && lidRetryAfter_ > now_) {
        consider(lidRetryAfter_);
    }
    if (inhibitorRefused_) {
        consider(inhibitorRetryAt_);
    }
    if (inhibitorLookAt_) {
        consider(*inhibitorLookAt_);
    }
    return next;
}

void WakeController::syncWaits() {
    if (!alive_) {
        return;
    }
    const auto pids = awaitedPids();
    for (const int32_t pid : watchedPids_) {
        if (!pids.contains(pid)) {
            workspace_->unwatchProcess(pid);
        }
    }
    for (const int32_t pid : pids) {
        if (!watchedPids_.contains(pid)) {
            workspace_->watchProcess(pid);
        }
    }
    watchedPids_ = pids;
    if (const bool needed = batteryNeeded(); needed != batteryWatched_) {
        batteryWatched_ = needed;
        workspace_->watchBattery(needed);
    }
    if (deadlineTimer_ == nullptr) {
        return;
    }
    const auto next = nextDeadline();
    if (!next) {
        deadlineTimer_->stop();
        return;
    }
    const double seconds = secondsBetween(clock_(), *next);
    const double ms =
        std::clamp(std::ceil(seconds * 1000), double(shortestWaitMs), double(longestWaitMs));
    deadlineTimer_->start(static_cast<int>(ms));
}

std::set<int32_t> WakeController::awaitedPids() const {
    std::set<int32_t> pids;
    if (session_) {
        if (const auto* app = session_->kind.as<SessionKind::App>()) {
            pids.insert(app->pid);
        } else if (const auto* process = session_->kind.as<SessionKind::Process>()) {
            pids.insert(process->pid);
        }
    }
    for (const auto& [id, hold] : holds_) {
        if (hold.pid) {
            pids.insert(*hold.pid);
        }
    }
    if (pendingSleep_ && pendingSleep_->waitForPid) {
        pids.insert(*pendingSleep_->waitForPid);
    }
    return pids;
}

bool WakeController::batteryNeeded() const {
    // Only the floor reads it: the lid checks the battery itself each time it is renewed. A
    // machine where no battery was seen has nothing to watch.
    const bool hasBattery = battery_.onBattery || battery_.percent.has_value();
    return hasBattery && stopOnLowBattery() && isAwake();
}

void WakeController::processEnded(int32_t pid) {
    watchedPids_.erase(pid);
    now_ = clock_();
    if (session_) {
        if (const auto* app = session_->kind.as<SessionKind::App>(); app && app->pid == pid) {
            endSession(app->name + " quit");
        } else if (const auto* process = session_->kind.as<SessionKind::Process>();
                   process && process->pid == pid) {
            endSession("process " + std::to_string(pid) + " finished");
        }
    }
    std::vector<std::string> ended;
    for (const auto& [id, hold] : holds_) {
        if (hold.pid == pid) {
            ended.push_back(id);
        }
    }
    for (const auto& id : ended) {
        eraseHold(id, "ended — process " + std::to_string(pid) + " finished");
    }
    if (!ended.empty() && activeHolds().empty()) {
        lastHoldEndedAt_ = now_;
    }
    // An ended process may linger unreaped, still answering kill(0): the event is the truth.
    if (pendingSleep_ && pendingSleep_->waitForPid == pid) {
        PendingSleep request = *pendingSleep_;
        request.waitForPid.reset();
        publish(pendingSleep_, std::optional<PendingSleep>(request));
    }
    update();
}

void WakeController::batteryChanged() {
    refreshBattery();
    update();
}

void WakeController::refreshBattery() {
    publish(battery_, power_->battery());
    enforceBatteryFloor();
}

void WakeController::powerServiceAppeared() {
    // What was refused may be granted now: ask again at once, from the shortest backoff.
    retryInhibitorsNow();
    lidRetryAfter_ = distantPast;
    refreshHelper();
    update();
}

void WakeController::expireSession() {
    if (!session_) {
        return;
    }
    const SessionKind kind = session_->kind;
    if (const auto* until = kind.as<SessionKind::Until>()) {
        if (until->end <= now_) {
            endSession("time is up");
        }
    } else if (const auto* app = kind.as<SessionKind::App>()) {
        if (!ProcessTree::isAlive(app->pid)) {
            endSession(app->name + " quit");
        }
    } else if (const auto* process = kind.as<SessionKind::Process>()) {
        if (!ProcessTree::isAlive(process->pid)) {
            endSession("process " + std::to_string(process->pid) + " finished");
        }
    } else if (const auto* file = kind.as<SessionKind::File>()) {
        checkDownload(file->path);
    }
}

void WakeController::expireHolds() {
    std::vector<std::pair<std::string, std::string>> expired; // id, why
    for (const auto& [id, hold] : holds_) {
        if (hold.until <= now_) {
            expired.emplace_back(id, "expired");
        } else if (hold.pid && !ProcessTree::isAlive(*hold.pid)) {
            expired.emplace_back(id, "ended — process " + std::to_string(*hold.pid) + " finished");
        }
    }
    for (const auto& [id, why] : expired) {
        eraseHold(id, why);
    }
    const bool windowOver = remoteListeningUntil_ && *remoteListeningUntil_ <= now_;
    if (windowOver) {
        publish(remoteListeningUntil_, std::optional<Instant>());
    }
    if ((!expired.empty() || windowOver) && !isAwakeByHolds()) {
        lastHoldEndedAt_ = now_;
    }
    if (!expired.empty() || windowOver) {
        applyPowerState();
    }
}

void WakeController::eraseHold(const std::string& id, const std::string& why) {
    if (holds_.erase(id) == 0) {
        return;
    }
    noteChange();
    log("Hold " + why + ": " + id);
}

void WakeController::closeListeningWindow() {
    if (!remoteListeningUntil_) {
        return;
    }
    publish(remoteListeningUntil_, std::optional<Instant>());
    if (!isAwakeByHolds()) {
        lastHoldEndedAt_ = now_;
    }
}

std::vector<LumenorHold> WakeController::holdList() const {
    std::vector<LumenorHold> list;
    for (const auto& [id, hold] : activeHolds()) {
        list.push_back({.id = id, .label = hold.label, .until = hold.until, .pid = hold.pid});
    }
    return list;
}

std::map<std::string, Hold> WakeController::activeHolds() const {
    std::map<std::string, Hold> active;
    for (const auto& [id, hold] : holds_) {
        if (hold.until > now_) {
            active.emplace(id, hold);
        }
    }
    return active;
}

bool WakeController::isAwakeByHolds() const {
    return !activeHolds().empty() || (remoteListeningUntil_ && *remoteListeningUntil_ > now_);
}

bool WakeController::isAwake() const {
    return session_.has_value() || isAwakeByHolds();
}

bool WakeController::batteryTooLow() const {
    return battery_.onBattery && battery_.percent.value_or(100) < minimumBattery();
}

void WakeController::applyPowerState() {
    if (sleeping_) {
        return;
    }
    now_ = clock_(); // also called between updates, by the panel and by results coming back
    const bool awake = isAwake();
    const auto active = activeHolds();
    const bool holdWantsDisplay = std::any_of(
        active.begin(), active.end(), [](const auto& entry) { return entry.second.display; });
    const bool wantsDisplay =
        awake && ((session_.has_value() && keepDisplayOn()) || holdWantsDisplay);
    if (inhibitorLookAt_ && now_ >= *inhibitorLookAt_) {
        inhibitorLookAt_.reset();
    }
    const auto backOff = [this] {
        inhibitorBackoff_ = std::min(longestInhibitorBackoff, std::max(1.0, inhibitorBackoff_ * 2));
        inhibitorRetryAt_ = addSeconds(now_, inhibitorBackoff_);
    };
    // A grant taken back after the take counts as refused: retried on the back-off, not at once.
    if (dropWithdrawn(*systemAssertion_) | dropWithdrawn(*displayAssertion_)) {
        backOff();
    }
    const uint32_t systemBefore = systemAssertion_->id();
    const uint32_t displayBefore = displayAssertion_->id();
    // A refused inhibitor is asked for again only when its retry is due, not on every change.
    const bool retryDue = now_ >= inhibitorRetryAt_;
    if (awake) {
        systemAssertion_->setReason(awakeReason());
    }
    if (!awake || systemAssertion_->id() != 0 || retryDue) {
        systemAssertion_->set(awake);
    }
    if (!wantsDisplay || displayAssertion_->id() != 0 || retryDue) {
        displayAssertion_->set(wantsDisplay);
    }
    const auto held = inhibitorsHeld();
    const bool taken = (systemBefore == 0 && systemAssertion_->id() != 0) ||
                       (displayBefore == 0 && displayAssertion_->id() != 0);
    if (taken && std::find(held.begin(), held.end(), "portal") != held.end()) {
        inhibitorLookAt_ = addSeconds(now_, portalAnswerWithin);
    }
    inhibitorRefused_ =
        (awake && systemAssertion_->id() == 0) || (wantsDisplay && displayAssertion_->id() == 0);
    if (!inhibitorRefused_ && !inhibitorLookAt_) {
        retryInhibitorsNow();
    } else if (inhibitorRefused_ && retryDue) {
        backOff();
    }
    noteInhibitors(awake, wantsDisplay);
    reconcileLid();
}

void WakeController::startSession(SessionKind kind) {
    now_ = clock_();
    retryInhibitorsNow();
    cancelSleepOperation();
    publish(session_, std::optional<KeepAwakeSession>(KeepAwakeSession{kind, now_}));
    fileWatch_.reset();
    cancelSleep(true);
    disarmRemoteCycle();
    log("Started: " + session_->title(now_));
    saveSession();
    applyPowerState();
    refreshBattery();
}

void WakeController::endSession(const std::string& reason) {
    if (!session_) {
        return;
    }
    publish(session_, std::optional<KeepAwakeSession>());
    fileWatch_.reset();
    log("Session ended — " + reason);
    saveSession();
    applyPowerState();
}

void WakeController::hold(Hold wanted, double seconds) {
    now_ = clock_();
    retryInhibitorsNow();
    cancelSleepOperation();
    const auto earlier = holds_.find(wanted.id);
    const bool extending = earlier != holds_.end() && earlier->second.until > now_;
    if (extending) {
        if (wanted.label.empty()) {
            wanted.label = earlier->second.label;
        }
        if (!wanted.pid) {
            wanted.pid = earlier->second.pid;
        }
        wanted.display = wanted.display || earlier->second.display;
    }
    wanted.until = addSeconds(now_, seconds);
    std::string what = wanted.id + (wanted.label.empty() ? "" : " (" + wanted.label + ")");
    what += wanted.pid ? " while process " + std::to_string(*wanted.pid) + " runs"
                       : " for " + DurationParser::formatSpoken(seconds);
    holds_[wanted.id] = std::move(wanted);
    noteChange();
    log((extending ? "Hold extended: " : "Hold taken: ") + what);
    applyPowerState();
    enforceBatteryFloor();
}

void WakeController::release(const std::string& id) {
    now_ = clock_();
    if (!holds_.contains(id)) {
        return;
    }
    eraseHold(id, "released");
    if (!isAwakeByHolds()) {
        lastHoldEndedAt_ = now_;
    }
    applyPowerState();
}

void WakeController::cancelSleep(bool silently) {
    if (!pendingSleep_) {
        return;
    }
    publish(pendingSleep_, std::optional<PendingSleep>());
    if (!silently) {
        log("Sleep cancelled");
    }
}

void WakeController::cancelSleepOperation() {
    if (sleepOperation_) {
        sleepOperation_->cancel();
    }
}

void WakeController::enforceBatteryFloor() {
    if (!stopOnLowBattery() || !batteryTooLow() || !isAwake()) {
        return;
    }
    now_ = clock_();
    publish(holds_, std::map<std::string, Hold>());
    lastHoldEndedAt_ = now_;
    publish(remoteListeningUntil_, std::optional<Instant>());
    const std::string floor = std::to_string(minimumBattery()) + "%";
    if (session_) {
        endSession("battery below " + floor);
    } else {
        applyPowerState();
    }
    log("Battery below " + floor + " — stopped keeping awake", LogEvent::Kind::battery);
}

// The measurement runs on a worker, one at a time: a folder walk may take seconds, and the
// main thread answers every request.
void WakeController::checkDownload(const std::filesystem::path& file) {
    if (measuringDownload_ ||
        (fileWatch_ && secondsBetween(fileWatch_->checkedAt, now_) < downloadMeasureEvery)) {
        return;
    }
    measuringDownload_ = true;
    background_->post([file, hop = mainHop()] {
        const auto measured = DownloadWatcher::measure(file);
        hop.post([file, measured](WakeController& controller) {
            controller.downloadMeasured(file, measured);
        });
    });
}

void WakeController::downloadMeasured(const std::filesystem::path& file,
                                      const DownloadWatcher::Measurement& measured) {
    using Outcome = DownloadWatcher::Measurement::Outcome;
    measuringDownload_ = false;
    now_ = clock_();
    const auto* watched = session_ ? session_->kind.as<SessionKind::File>() : nullptr;
    // The session ended or changed while the measurement ran.
    if (watched == nullptr || watched->path != file) {
        return;
    }
    const std::string name = SessionKind::File{file}.lastPathComponent();
    if (measured.outcome == Outcome::missing) {
        endSession(name + " finished or was moved");
    } else if (measured.outcome == Outcome::tooLarge) {
        endSession(name + " is too large to watch");
        log("Too large to watch: " + file.string());
    } else if (!fileWatch_ || fileWatch_->size != measured.size) {
        fileWatch_ = FileWatch{measured.size, now_, now_};
    } else {
        fileWatch_->checkedAt = now_;
        if (secondsBetween(fileWatch_->changedAt, now_) > downloadStillFor) {
            endSession(name + " stopped changing");
        }
    }
    syncWaits();
}
