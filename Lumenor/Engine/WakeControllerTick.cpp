#include "Lumenor/Engine/InstantMath.h"
#include "Lumenor/Engine/WakeController.h"

#include "LumenorCore/DurationParser.h"
#include "LumenorCore/ProcessTree.h"

#include <algorithm>

namespace {

constexpr int batteryEverySeconds = 15;
// Another program may take over the lid at any time; asking logind once a minute is cheap.
constexpr int lidHandlerEverySeconds = 60;
constexpr double downloadMeasureEvery = 5;
constexpr double downloadStillFor = 120;

} // namespace

void WakeController::tick() {
    publish(now_, clock_());
    if (epochSeconds(now_) % batteryEverySeconds == 0) {
        publish(battery_, power_->battery());
        enforceBatteryFloor();
    }
    expireSession();
    expireHolds();
    remoteCycleStep();
    pendingSleepStep();
    if (batteryTooLow() && lidModeActive_ && !lidOpInFlight_) {
        log("Battery low — lid-closed mode off");
    }
    if (lidClosedMode_ && epochSeconds(now_) % lidHandlerEverySeconds == 0) {
        checkLidHandler();
    }
    // Also takes the inhibitors again when none could be held so far; ends in the lid
    // reconciliation.
    applyPowerState();
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
    for (const auto& [id, expiry] : holds_) {
        const auto details = holdDetails_.find(id);
        const auto pid = details != holdDetails_.end() ? details->second.pid : std::nullopt;
        if (expiry <= now_) {
            expired.emplace_back(id, "expired");
        } else if (pid && !ProcessTree::isAlive(*pid)) {
            expired.emplace_back(id, "ended — process " + std::to_string(*pid) + " finished");
        }
    }
    std::erase_if(holdDetails_,
                  [this](const auto& entry) { return !holds_.contains(entry.first); });
    if (expired.empty()) {
        return;
    }
    for (const auto& [id, why] : expired) {
        eraseHold(id, why);
    }
    if (activeHolds().empty()) {
        lastHoldEndedAt_ = now_;
    }
    if (std::any_of(expired.begin(), expired.end(),
                    [](const auto& entry) { return entry.first == remoteCheckHold; })) {
        publish(remoteListeningUntil_, std::optional<Instant>());
    }
    applyPowerState();
}

void WakeController::eraseHold(const std::string& id, const std::string& why) {
    emit aboutToChange();
    holds_.erase(id);
    holdDetails_.erase(id);
    if (!why.empty() && id != remoteCheckHold) {
        log("Hold " + why + ": " + id);
    }
}

std::vector<LumenorHold> WakeController::holdList() const {
    std::vector<LumenorHold> list;
    for (const auto& [id, expiry] : activeHolds()) {
        LumenorHold hold{.id = id, .label = {}, .until = expiry};
        if (const auto details = holdDetails_.find(id); details != holdDetails_.end()) {
            hold.label = details->second.label;
            hold.pid = details->second.pid;
        }
        list.push_back(std::move(hold));
    }
    return list;
}

std::map<std::string, Instant> WakeController::activeHolds() const {
    std::map<std::string, Instant> active;
    for (const auto& [id, expiry] : holds_) {
        if (expiry > now_) {
            active.emplace(id, expiry);
        }
    }
    return active;
}

bool WakeController::isAwake() const {
    return session_.has_value() || !activeHolds().empty();
}

bool WakeController::batteryTooLow() const {
    return battery_.onBattery && battery_.percent.value_or(100) < minimumBattery_;
}

void WakeController::applyPowerState() {
    if (sleeping_) {
        return;
    }
    const bool awake = isAwake();
    const auto active = activeHolds();
    const bool holdWantsDisplay =
        std::any_of(active.begin(), active.end(), [this](const auto& hold) {
            const auto details = holdDetails_.find(hold.first);
            return details != holdDetails_.end() && details->second.display;
        });
    systemAssertion_->set(awake);
    displayAssertion_->set(awake && ((session_.has_value() && keepDisplayOn_) || holdWantsDisplay));
    noteInhibitors(awake);
    reconcileLid();
}

void WakeController::startSession(SessionKind kind) {
    cancelSleepOperation();
    publish(session_, std::optional<KeepAwakeSession>(KeepAwakeSession{kind, clock_()}));
    if (const auto* app = kind.as<SessionKind::App>()) {
        workspace_->watchProcess(app->pid);
    }
    fileWatch_.reset();
    cancelSleep(true);
    disarmRemoteCycle();
    log("Started: " + session_->title(clock_()));
    saveSession();
    applyPowerState();
    publish(battery_, power_->battery());
    enforceBatteryFloor();
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

void WakeController::hold(const std::string& id, double seconds) {
    hold(id, seconds, HoldDetails{});
}

void WakeController::hold(const std::string& id, double seconds, HoldDetails details) {
    if (id != remoteCheckHold) {
        cancelSleepOperation();
    }
    const bool extending = holds_.contains(id) && holds_.at(id) > clock_();
    if (extending) {
        const HoldDetails& earlier = holdDetails_[id];
        if (details.label.empty()) {
            details.label = earlier.label;
        }
        if (!details.pid) {
            details.pid = earlier.pid;
        }
        details.display = details.display || earlier.display;
    }
    emit aboutToChange();
    holds_[id] = addSeconds(clock_(), seconds);
    holdDetails_[id] = details;
    if (id != remoteCheckHold) {
        std::string what = id + (details.label.empty() ? "" : " (" + details.label + ")");
        what += details.pid ? " while process " + std::to_string(*details.pid) + " runs"
                            : " for " + DurationParser::formatSpoken(seconds);
        log((extending ? "Hold extended: " : "Hold taken: ") + what);
    }
    applyPowerState();
    enforceBatteryFloor();
}

void WakeController::release(const std::string& id) {
    if (holds_.find(id) == holds_.end()) {
        return;
    }
    eraseHold(id, "released");
    if (activeHolds().empty()) {
        lastHoldEndedAt_ = clock_();
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
    if (!stopOnLowBattery_ || !batteryTooLow() || !isAwake()) {
        return;
    }
    publish(holds_, std::map<std::string, Instant>());
    lastHoldEndedAt_ = now_;
    publish(remoteListeningUntil_, std::optional<Instant>());
    const std::string floor = std::to_string(minimumBattery_) + "%";
    if (session_) {
        endSession("battery below " + floor);
    } else {
        applyPowerState();
    }
    log("Battery below " + floor + " — stopped keeping awake");
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
    const auto* watched = session_ ? session_->kind.as<SessionKind::File>() : nullptr;
    // The session ended or changed while the measurement ran.
    if (watched == nullptr || watched->path != file) {
        return;
    }
    const std::string name = SessionKind::File{file}.lastPathComponent();
    if (measured.outcome == Outcome::missing) {
        endSession(name + " finished or was moved");
        return;
    }
    if (measured.outcome == Outcome::tooLarge) {
        endSession(name + " is too large to watch");
        log("Too large to watch: " + file.string());
        return;
    }
    if (!fileWatch_ || fileWatch_->size != measured.size) {
        fileWatch_ = FileWatch{measured.size, now_, now_};
        return;
    }
    fileWatch_->checkedAt = now_;
    if (secondsBetween(fileWatch_->changedAt, now_) > downloadStillFor) {
        endSession(name + " stopped changing");
    }
}

void WakeController::applicationTerminated(int32_t pid) {
    if (!session_) {
        return;
    }
    const auto* app = session_->kind.as<SessionKind::App>();
    if (app != nullptr && app->pid == pid) {
        endSession(app->name + " quit");
    }
}
