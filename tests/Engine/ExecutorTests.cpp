#include "Lumenor/Engine/Executor.h"
#include "Support/EngineHarness.h"

#include <QCoreApplication>
#include <QTest>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

TEST(SerialQueue, RunsTasksInOrderOffTheCallerAndDrainsSynchronously) {
    std::vector<int> order;
    std::thread::id worker;
    {
        SerialQueue queue;
        queue.post([] { std::this_thread::sleep_for(std::chrono::milliseconds(20)); });
        for (int i = 0; i < 3; ++i) {
            queue.post([&order, &worker, i] {
                order.push_back(i);
                worker = std::this_thread::get_id();
            });
        }
        queue.drain();
        EXPECT_EQ(order, (std::vector{0, 1, 2}));
        EXPECT_NE(worker, std::this_thread::get_id());
        queue.post([&order] { order.push_back(3); });
    } // destruction runs what is still queued
    EXPECT_EQ(order, (std::vector{0, 1, 2, 3}));
}

TEST(MainThreadExecutor, RunsWorkOnTheMainThreadLaterAndDropsItOnceGone) {
    ensureApplication();
    auto main = std::make_shared<MainThreadExecutor>();
    std::vector<std::thread::id> ran;
    std::thread([main, &ran] {
        main->post([&ran] { ran.push_back(std::this_thread::get_id()); });
        main->postAfter(0.3, [&ran] { ran.push_back(std::this_thread::get_id()); });
    }).join();
    EXPECT_TRUE(ran.empty()) << "runs on the event loop, not in post";
    QCoreApplication::processEvents();
    EXPECT_EQ(ran, std::vector{std::this_thread::get_id()}) << "the delayed task waits";
    EXPECT_TRUE(QTest::qWaitFor([&] { return ran.size() == 2; }));
    EXPECT_EQ(ran, std::vector(2, std::this_thread::get_id()));

    main->post([&ran] { ran.clear(); });
    main.reset();
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(ran.size(), 2u);
}
