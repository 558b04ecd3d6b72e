#pragma once

#include "Lumenor/Engine/WakeController.h"

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
    void setLidAvailable(bool available) { c_.publish(c_.lidAvailable_, available); }
    void setLidModeActive(bool active) { c_.publish(c_.lidModeActive_, active); }
    void setSleeping(bool sleeping) { c_.sleeping_ = sleeping; }
    void setSleepOperation(std::shared_ptr<SleepOperation> operation) {
        c_.sleepOperation_ = std::move(operation);
    }

    void syncWaits() { c_.syncWaits(); }

    bool sleeping() const { return c_.sleeping_; }
    bool awaitingWake() const { return c_.awaitingWake_; }
    const std::shared_ptr<SleepOperation>& sleepOperation() const { return c_.sleepOperation_; }

private:
    WakeController& c_;
};
