#pragma once

#include "Lumenor/Engine/Executor.h"

#include <deque>
#include <functional>
#include <mutex>
#include <vector>

/// Keeps posted tasks until the test runs them, one at a time or all at once. Posting is safe
/// from any thread; tasks run on the thread that runs them.
class ManualExecutor : public SerialExecutor {
public:
    void post(std::function<void()> task) override;
    /// Kept apart from posted tasks until runDelayed(); the delay is recorded.
    void postAfter(double seconds, std::function<void()> task) override;
    /// Runs everything queued, including what those tasks post.
    void drain() override;

    /// Runs the oldest task; false when there was none.
    bool runNext();
    /// Runs tasks until none is left; returns how many ran.
    size_t runAll();
    size_t pending() const;
    int drains() const;
    /// Runs the tasks of postAfter() that are waiting, as if their time had come.
    size_t runDelayed();
    /// The delay of every postAfter() so far, in seconds.
    std::vector<double> delays() const;

private:
    mutable std::mutex mutex_;
    std::deque<std::function<void()>> tasks_;
    std::deque<std::function<void()>> delayed_;
    std::vector<double> delays_;
    int drains_ = 0;
};
