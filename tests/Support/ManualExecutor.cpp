#include "Support/ManualExecutor.h"

void ManualExecutor::post(std::function<void()> task) {
    std::lock_guard lock(mutex_);
    tasks_.push_back(std::move(task));
}

void ManualExecutor::drain() {
    {
        std::lock_guard lock(mutex_);
        ++drains_;
    }
    runAll();
}

bool ManualExecutor::runNext() {
    std::function<void()> task;
    {
        std::lock_guard lock(mutex_);
        if (tasks_.empty()) {
            return false;
        }
        task = std::move(tasks_.front());
        tasks_.pop_front();
    }
    task();
    return true;
}

size_t ManualExecutor::runAll() {
    size_t count = 0;
    while (runNext()) {
        ++count;
    }
    return count;
}

size_t ManualExecutor::pending() const {
    std::lock_guard lock(mutex_);
    return tasks_.size();
}

int ManualExecutor::drains() const {
    std::lock_guard lock(mutex_);
    return drains_;
}

void ManualExecutor::postAfter(double seconds, std::function<void()> task) {
    std::lock_guard lock(mutex_);
    delays_.push_back(seconds);
    delayed_.push_back(std::move(task));
}

size_t ManualExecutor::runDelayed() {
    std::deque<std::function<void()>> due;
    {
        std::lock_guard lock(mutex_);
        due.swap(delayed_);
    }
    for (auto& task : due) {
        task();
    }
    return due.size();
}

std::vector<double> ManualExecutor::delays() const {
    std::lock_guard lock(mutex_);
    return delays_;
}
