#pragma once

#include <QPointer>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>

class QObject;

/// Somewhere to run work later. post() may be called from any thread.
class Executor {
public:
    virtual ~Executor() = default;
    virtual void post(std::function<void()> task) = 0;
    /// Runs `task` about `seconds` from now. An executor without a timer of its own runs it
    /// like post().
    virtual void postAfter(double seconds, std::function<void()> task) {
        (void)seconds;
        post(std::move(task));
    }
};

/// An executor that runs its tasks one at a time, in the order posted.
class SerialExecutor : public Executor {
public:
    /// Returns once everything posted before the call has run. Never call it from a task of
    /// the same executor.
    virtual void drain() = 0;
};

/// A worker thread with a FIFO of tasks.
class SerialQueue final : public SerialExecutor {
public:
    SerialQueue();
    /// Runs what is still queued, then joins the worker.
    ~SerialQueue() override;
    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    void post(std::function<void()> task) override;
    void drain() override;

private:
    void work();

    std::mutex mutex_;
    std::condition_variable wakeUp_;
    std::deque<std::function<void()>> tasks_;
    bool stopping_ = false;
    std::thread worker_;
};

/// Runs tasks on the Qt event loop of the thread that created it (the main thread), as queued
/// calls. Tasks posted after the executor is gone are dropped.
class MainThreadExecutor final : public Executor {
public:
    MainThreadExecutor();
    ~MainThreadExecutor() override;
    MainThreadExecutor(const MainThreadExecutor&) = delete;
    MainThreadExecutor& operator=(const MainThreadExecutor&) = delete;

    void post(std::function<void()> task) override;
    /// A single-shot timer on the main thread; dropped with the executor like post().
    void postAfter(double seconds, std::function<void()> task) override;

private:
    QPointer<QObject> context_;
};

/// Runs each task on a thread of its own, for work that may block for minutes (an
/// administrator prompt) and must not hold up the serial queue.
class BackgroundExecutor final : public Executor {
public:
    void post(std::function<void()> task) override;
};
