#include "Lumenor/Engine/Executor.h"

#include "Lumenor/Engine/HandOff.h"

#include <QObject>
#include <QThread>
#include <QTimer>

#include <chrono>
#include <cmath>

#include <future>

SerialQueue::SerialQueue() : worker_([this] { work(); }) {}

SerialQueue::~SerialQueue() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wakeUp_.notify_one();
    worker_.join();
}

void SerialQueue::post(std::function<void()> task) {
    {
        std::lock_guard lock(mutex_);
        tasks_.push_back(std::move(task));
    }
    wakeUp_.notify_one();
}

void SerialQueue::drain() {
    std::promise<void> done;
    auto finished = done.get_future();
    post([&done] { done.set_value(); });
    finished.wait();
}

void SerialQueue::work() {
    for (;;) {
        std::function<void()> task;
        {
            std::unique_lock lock(mutex_);
            wakeUp_.wait(lock, [this] { return stopping_ || !tasks_.empty(); });
            if (tasks_.empty()) {
                return;
            }
            task = std::move(tasks_.front());
            tasks_.pop_front();
        }
        task();
    }
}

MainThreadExecutor::MainThreadExecutor() : context_(new QObject) {}

MainThreadExecutor::~MainThreadExecutor() {
    if (!context_) {
        return;
    }
    // The last owner may be a worker thread; a QObject must die on its own thread.
    if (context_->thread() == QThread::currentThread()) {
        delete context_.data();
    } else {
        context_->deleteLater();
    }
}

void MainThreadExecutor::post(std::function<void()> task) {
    QObject* context = context_.data();
    if (context != nullptr) {
        auto handed = std::make_shared<std::function<void()>>(std::move(task));
        HandOff::release(handed.get());
        QMetaObject::invokeMethod(
            context,
            [handed] {
                HandOff::acquire(handed.get());
                (*handed)();
            },
            Qt::QueuedConnection);
    }
}

void MainThreadExecutor::postAfter(double seconds, std::function<void()> task) {
    QObject* context = context_.data();
    if (context == nullptr) {
        return;
    }
    const auto delay = std::chrono::milliseconds(
        std::isfinite(seconds) && seconds > 0 ? std::llround(seconds * 1000) : 0);
    // The timer is started from the main thread, whichever thread asks: a timer needs the
    // event loop of the thread that starts it.
    QMetaObject::invokeMethod(
        context,
        [context, delay, task = std::move(task)] { QTimer::singleShot(delay, context, task); },
        Qt::QueuedConnection);
}

void BackgroundExecutor::post(std::function<void()> task) {
    std::thread(std::move(task)).detach();
}
