#pragma once

#include <mutex>

/// One sleep attempt, shared between the main thread and the privileged queue: the main thread
/// cancels it, the background work checks between its steps.
class SleepOperation {
public:
    bool cancelled() const {
        std::lock_guard lock(lock_);
        return cancelled_;
    }
    void cancel() {
        std::lock_guard lock(lock_);
        cancelled_ = true;
    }

private:
    mutable std::mutex lock_;
    bool cancelled_ = false;
};
