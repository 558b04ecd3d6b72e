#pragma once

#include "Lumenor/Engine/WakeController.h"

#include <functional>
#include <memory>
#include <optional>

/// Reads and sets the controller's private state, for arranging situations that only the
/// sleep, remote-wake and lid machinery would otherwise produce.
class WakeControllerProbe {
public:
    explicit WakeControllerProbe(WakeController& controller) : c_(controller) {}

    void setRemoteCycleArmed(bool armed) { c_.publish(c_.remoteCycleArmed_, armed); }
    void setRemoteListeningUntil(std::optional<Instant> until) {
        c_.publish(c_.remoteListeningUntil_, until);
    }
    void setHelperReady(bool ready) { c_.publish(c_.helperReady_, ready); }
    void setLidModeActive(bool active) { c_.publish(c_.lidModeActive_, active); }
    void setLidOpInFlight(bool inFlight) { c_.lidOpInFlight_ = inFlight; }
    void setSleeping(bool sleeping) { c_.sleeping_ = sleeping; }
    void setAwaitingWake(bool awaiting) { c_.awaitingWake_ = awaiting; }
    void setSleepOperation(std::shared_ptr<SleepOperation> operation) {
        c_.sleepOperation_ = std::move(operation);
    }

    /// The controller's hop back to the main thread, usable after the controller is gone.
    std::function<void(std::function<void(WakeController&)>)> mainHop() {
        return [hop = c_.mainHop()](std::function<void(WakeController&)> work) {
            hop.post(std::move(work));
        };
    }

    Instant lastHoldEndedAt() const { return c_.lastHoldEndedAt_; }
    bool sleeping() const { return c_.sleeping_; }
    bool awaitingWake() const { return c_.awaitingWake_; }
    bool lidOpInFlight() const { return c_.lidOpInFlight_; }
    Instant lidRetryAfter() const { return c_.lidRetryAfter_; }
    Instant lastLeaseRenewal() const { return c_.lastLeaseRenewal_; }
    const std::shared_ptr<SleepOperation>& sleepOperation() const { return c_.sleepOperation_; }
    bool watchingDownload() const { return c_.fileWatch_.has_value(); }
    double listenWindow() const { return c_.listenWindow_; }
    double sleepGrace() const { return c_.sleepGrace_; }

private:
    WakeController& c_;
};
