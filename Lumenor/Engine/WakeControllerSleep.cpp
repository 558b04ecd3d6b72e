#include "Lumenor/Engine/InstantMath.h"
#include "Lumenor/Engine/WakeController.h"

#include "LumenorCore/LumenorWords.h"
#include "LumenorCore/ProcessTree.h"

#include <algorithm>

namespace {

// Holds must have been gone this long before a sleep.
constexpr double quietAfterHolds = 10;
constexpr double menuSleepDelay = 2;
constexpr double displayOffDelay = 0.5;
// A wake scheduled sooner than this would wake the machine almost as soon as it sleeps.
constexpr int shortestWakeInterval = 5;

} // namespace

void WakeController::pendingSleepStep() {
    if (!pendingSleep_ || sleeping_) {
        return;
    }
    const PendingSleep request = *pendingSleep_;
    const bool pidDone = !request.waitForPid || !ProcessTree::isAlive(*request.waitForPid);
    // The listening window is no task: it never delays a sleep.
    const bool blocked =
        !request.force &&
        (!activeHolds().empty() || secondsBetween(lastHoldEndedAt_, now_) < quietAfterHolds);
    if (now_ >= request.notBefore && pidDone && !blocked) {
        performSleep("requested by " + request.requestedBy);
    }
}

void WakeController::performSleep(const std::string& reason) {
    if (sleeping_) {
        return;
    }
    auto operation = std::make_shared<SleepOperation>();
    sleepOperation_ = operation;
    sleeping_ = true;
    clearedForSleep_ = Cleared{session_, activeHolds()};
    awaitingWake_ = true;

    publish(pendingSleep_, std::optional<PendingSleep>());
    publish(session_, std::optional<KeepAwakeSession>());
    saveSession();
    publish(holds_, std::map<std::string, Hold>());
    publish(remoteListeningUntil_, std::optional<Instant>());
    fileWatch_.reset();
    systemAssertion_->set(false);
    displayAssertion_->set(false);
    noteInhibitors(false);

    const SleepPlan plan{
        .arm = remoteWakeEnabled() && wakeHelperReady_,
        .intervalSeconds = 60LL * std::max(remoteWakeInterval(), shortestWakeInterval),
    };
    log("Going to sleep — " + reason);
    privileged_->post([power = power_, clock = clock_, operation, plan, hop = mainHop()] {
        sleepInBackground(*power, clock, operation, plan, hop);
    });
}

// Runs on `privileged`: arm the next wake, give up the lid, sleep. Each step looks for a
// cancellation first, so a wake() that comes in time keeps the machine up.
void WakeController::sleepInBackground(PowerPlatform& power, const std::function<Instant()>& clock,
                                       const std::shared_ptr<SleepOperation>& operation,
                                       const SleepPlan& plan, const MainHop& hop) {
    SleepOutcome outcome;
    if (plan.arm && !operation->cancelled()) {
        const Instant at = clock() + std::chrono::seconds(plan.intervalSeconds);
        outcome.scheduled = power.setWakeAlarm(at).ok();
        hop.post([operation, scheduled = outcome.scheduled](WakeController& controller) {
            if (!operation->cancelled()) {
                controller.publish(controller.remoteCycleArmed_, scheduled);
            }
        });
    }
    if (!operation->cancelled()) {
        // Held, the lid would keep the machine from sleeping; it comes back after the wake.
        power.releaseLid();
        outcome.lidReleased = true;
    }
    if (!operation->cancelled()) {
        const PowerControl::RunResult result = power.sleepNow();
        outcome.slept = result.code == 0;
        outcome.failure = result.output;
    }
    outcome.cancelled = operation->cancelled();
    hop.post([operation, outcome](WakeController& controller) {
        controller.sleepFinished(operation, outcome);
    });
}

void WakeController::sleepFinished(const std::shared_ptr<SleepOperation>& operation,
                                   const SleepOutcome& outcome) {
    if (sleepOperation_ == operation) {
        sleepOperation_.reset();
    }
    sleeping_ = false;
    now_ = clock_();
    if (outcome.lidReleased) {
        publish(lidModeActive_, false);
    }
    if (outcome.slept) {
        clearedForSleep_.reset();
        applyPowerState();
        syncWaits();
        return;
    }
    if (outcome.scheduled) {
        postCancelWakeAlarm();
    }
    publish(remoteCycleArmed_, false);
    awaitingWake_ = false;
    if (!outcome.cancelled) {
        restoreAfterFailedSleep();
    }
    clearedForSleep_.reset();
    applyPowerState();
    syncWaits();
    // Last, so that the panel shows why the machine is still up.
    if (outcome.cancelled) {
        log("Sleep cancelled — staying awake");
    } else {
        log("⚠️ Could not put the " + LumenorWords::machine() + " to sleep" +
                (outcome.failure.empty() ? "" : ": " + outcome.failure),
            LogEvent::Kind::warning);
    }
}

void WakeController::restoreAfterFailedSleep() {
    if (!clearedForSleep_) {
        return;
    }
    if (!session_ && clearedForSleep_->session) {
        publish(session_, clearedForSleep_->session);
        saveSession();
    }
    // Whole: a hold comes back with its label, process and display wish.
    bool restored = false;
    for (const auto& [id, hold] : clearedForSleep_->holds) {
        if (hold.until > now_ && !holds_.contains(id)) {
            holds_.emplace(id, hold);
            restored = true;
        }
    }
    if (restored) {
        noteChange();
    }
}

void WakeController::wake() {
    cancelSleepOperation();
    retryInhibitorsNow();
    cancelSleep(true);
    if (!session_) {
        startSession(SessionKind::indefinite());
    } else {
        disarmRemoteCycle();
    }
    power_->wakeDisplay();
    log("Woken remotely");
}

std::optional<std::string> WakeController::rest() {
    if (auto problem = power_->displaySleepProblem()) {
        log("⚠️ Couldn't turn the display off: " + *problem, LogEvent::Kind::warning);
        return problem;
    }
    if (!session_) {
        startSession(SessionKind::indefinite());
    }
    cancelSleep(true);
    // The log says the display went off only once it has.
    mainThread_->postAfter(displayOffDelay, [hop = mainHop(), power = power_] {
        const PowerControl::RunResult result = power->displaySleepNow();
        hop.post([result](WakeController& controller) {
            if (result.code == 0) {
                controller.log("Resting — display off, still reachable");
            } else {
                controller.log("⚠️ Couldn't turn the display off: " + result.output,
                               LogEvent::Kind::warning);
            }
        });
    });
    return std::nullopt;
}

void WakeController::requestSleepFromMenu() {
    setPendingSleep(PendingSleep{addSeconds(clock_(), menuSleepDelay), std::nullopt, true, "menu"});
    log("Sleep requested by menu");
    update();
}
