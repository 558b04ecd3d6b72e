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

void WakeController::systemDidWake() {
    awaitingWake_ = false;
    publish(battery_, power_->battery());
    if (!remoteCycleArmed_) {
        applyPowerState();
        return;
    }
    if (power_->isLidClosed()) {
        // The tick's `now` is still from before the sleep; the window starts at the wake.
        publish(remoteListeningUntil_, std::optional<Instant>(addSeconds(clock_(), listenWindow_)));
        hold(remoteCheckHold, listenWindow_);
        log("Remote check — listening " + std::to_string(std::llround(listenWindow_)) +
            "s for Telegram");
    } else {
        log("Lid opened — remote checks stopped");
        disarmRemoteCycle();
    }
}

void WakeController::disarmRemoteCycle() {
    publish(remoteListeningUntil_, std::optional<Instant>());
    const bool windowOpen = holds_.count(remoteCheckHold) != 0;
    if (windowOpen) {
        eraseHold(remoteCheckHold);
    }
    if (remoteCycleArmed_) {
        publish(remoteCycleArmed_, false);
        postHelper({"cancel-wake"});
    }
    // Without this, the assertion the window took would outlive it (remote wake turned off
    // mid-window) while the status says nothing keeps the machine awake.
    if (windowOpen) {
        applyPowerState();
    }
}
