#include "Lumenor/Engine/Executor.h"
#include "Support/EngineHarness.h"
#include "Support/WakeControllerProbe.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <numeric>
#include <thread>
#include <vector>

namespace {

TEST(SerialQueue, RunsTasksInOrderOffTheCallerAndDrainsSynchronously) {
    std::vector<int> order;
    std::thread::id worker;
    {
        SerialQueue queue;
        for (int i = 0; i < 50; ++i) {
            queue.post([&order, &worker, i] {
                order.push_back(i);
                worker = std::this_thread::get_id();
                if (i == 0) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(20));
                }
            });
        }
        queue.drain();
        EXPECT_EQ(order.size(), 50u);
        EXPECT_NE(worker, std::this_thread::get_id());
        queue.post([&order] { order.push_back(50); });
    } // destruction runs what is still queued
    std::vector<int> expected(51);
    std::iota(expected.begin(), expected.end(), 0);
    EXPECT_EQ(order, expected);
}

TEST(MainThreadExecutor, BringsWorkBackToTheMainThreadAndDropsItOnceGone) {
    ensureQtApplication();
    auto main = std::make_shared<MainThreadExecutor>();
    std::atomic<int> ran = 0;
    std::thread::id where;
    std::thread([main, &ran, &where] {
        main->post([&ran, &where] {
            where = std::this_thread::get_id();
            ++ran;
        });
    }).join();
    EXPECT_EQ(ran, 0) << "runs on the event loop, not in post";
    QCoreApplication::processEvents();
    EXPECT_EQ(ran, 1);
    EXPECT_EQ(where, std::this_thread::get_id());

    main->post([&ran] { ++ran; });
    main.reset();
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(ran, 1);
}

TEST(MainThreadExecutor, DelayedWorkRunsLaterOnTheMainThread) {
    ensureQtApplication();
    auto main = std::make_shared<MainThreadExecutor>();
    std::atomic<int> ran = 0;
    std::thread::id where;
    std::thread([main, &ran, &where] {
        main->postAfter(0.5, [&ran, &where] {
            where = std::this_thread::get_id();
            ++ran;
        });
    }).join();
    QCoreApplication::processEvents();
    EXPECT_EQ(ran, 0) << "not before its time";
    for (int i = 0; i < 200 && ran == 0; ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(ran, 1);
    EXPECT_EQ(where, std::this_thread::get_id());
}

TEST(WakeControllerContinuations, ResultsForAGoneControllerAreDropped) {
    EngineHarness h;
    auto hop = WakeControllerProbe(h.controller()).mainHop();
    int ran = 0;
    std::thread([&hop, &ran] {
        hop([&ran](WakeController& controller) { ran += controller.lidClosedMode() ? 1 : 0; });
    }).join();
    EXPECT_EQ(h.mainThread->runAll(), 1u);
    EXPECT_EQ(ran, 1);

    hop([&ran](WakeController&) { ++ran; });
    h.recreate(); // the controller that asked is gone when the result arrives
    EXPECT_EQ(h.mainThread->runAll(), 1u);
    EXPECT_EQ(ran, 1);
}

} // namespace
