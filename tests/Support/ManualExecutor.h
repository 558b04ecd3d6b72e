#pragma once

#include "Lumenor/Engine/Executor.h"

#include <deque>
#include <functional>
#include <vector>

/// Keeps posted tasks until the test runs them, on the test's thread.
class ManualExecutor : public SerialExecutor {
public:
    void post(std::function<void()> task) override { tasks.push_back(std::move(task)); }
    /// Kept apart from posted tasks until runDelayed(); the delay is recorded.
    void postAfter(double seconds, std::function<void()> task) override {
        delays.push_back(seconds);
        delayed_.push_back(std::move(task));
    }
    void drain() override {
        ++drains;
        runAll();
    }

    /// Runs tasks, including those they post, until none is left; returns how many ran.
    size_t runAll() {
        size_t ran = 0;
        for (; !tasks.empty(); ++ran) {
            auto task = std::move(tasks.front());
            tasks.pop_front();
            task();
        }
        return ran;
    }
    void runDelayed() {
        for (auto& task : std::exchange(delayed_, {})) {
            task();
        }
    }

    std::deque<std::function<void()>> tasks;
    std::vector<double> delays;
    int drains = 0;

private:
    std::vector<std::function<void()>> delayed_;
};
