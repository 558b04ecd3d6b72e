#include "Lumenor/Engine/InstantMath.h"
#include "Lumenor/Engine/WakeController.h"

#include <cmath>

namespace {

// After the listening window, the machine stays up this long before sleeping again.
constexpr double quietAfterWindow = 10;

} // namespace

void WakeController::remoteCycleStep() {
    const bool waiting = remoteCycleArmed_ && !awaitingWake_ && !sleeping_ && !session_ &&
                         activeHolds().empty() && !pendingSleep_ && !remoteListeningUntil_ &&
                         secondsBetween(lastHoldEndedAt_, now_) >= quietAfterWindow;
    if (!waiting) {
        return;
    }
    if (power_->isLidClosed()) {
        performSleep("remote check finished");
    } else {
        disarmRemoteCycle();
    }
}

void WakeController::resumedFromSuspend() {
    awaitingWake_ = false;
    now_ = clock_();
    if (remoteCycleArmed_ && power_->isLidClosed()) {
        // The window is its own state, not a hold: callers cannot end or extend it by id.
        publish(remoteListeningUntil_, std::optional<Instant>(addSeconds(now_, listenWindow_)));
        applyPowerState();
        log("Remote wake — reachable for " + std::to_string(std::llround(listenWindow_)) +
            "s (`lumenor wake` keeps it awake)");
    } else if (remoteCycleArmed_) {
        log("Lid opened — remote checks stopped");
        disarmRemoteCycle();
    }
    refreshBattery();
    update();
}

void WakeController::disarmRemoteCycle() {
    const bool windowOpen = remoteListeningUntil_.has_value();
    closeListeningWindow();
    if (remoteCycleArmed_) {
        publish(remoteCycleArmed_, false);
        postCancelWakeAlarm();
    }
    // Without this, the assertion the window took would outlive it (remote wake turned off
    // mid-window) while the status says nothing keeps the machine awake.
    if (windowOpen) {
        applyPowerState();
    }
}
