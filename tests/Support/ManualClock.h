#pragma once

#include "LumenorCore/Instant.h"

#include <chrono>
#include <functional>

/// A clock that moves only when the test moves it.
class ManualClock {
public:
    explicit ManualClock(Instant start) : now_(start) {}

    Instant now() const { return now_; }
    void set(Instant instant) { now_ = instant; }
    void advance(double seconds) {
        now_ +=
            std::chrono::duration_cast<Instant::duration>(std::chrono::duration<double>(seconds));
    }
    /// The clock as the controller's seam; valid while this object lives.
    std::function<Instant()> function() const {
        return [this] { return now_; };
    }

private:
    Instant now_;
};
