#pragma once

#include "LumenorCore/Instant.h"

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>

/// A clock that moves only when the test moves it.
class ManualClock {
public:
    explicit ManualClock(Instant start) : state_(std::make_shared<State>()) { state_->now = start; }

    Instant now() const {
        std::lock_guard lock(state_->mutex);
        return state_->now;
    }
    void set(Instant instant) {
        std::lock_guard lock(state_->mutex);
        state_->now = instant;
    }
    void advance(double seconds) {
        std::lock_guard lock(state_->mutex);
        state_->now +=
            std::chrono::duration_cast<Instant::duration>(std::chrono::duration<double>(seconds));
    }
    /// The clock as the controller's seam; it stays valid after this object is gone.
    std::function<Instant()> function() const {
        return [state = state_] {
            std::lock_guard lock(state->mutex);
            return state->now;
        };
    }

private:
    struct State {
        std::mutex mutex;
        Instant now;
    };
    std::shared_ptr<State> state_;
};
