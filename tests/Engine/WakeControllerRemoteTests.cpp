#include "Support/EngineHarness.h"
#include "Support/WakeControllerProbe.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using PowerControl::systemAssertionType;

// A controller whose last sleep armed a remote wake, lid closed, asleep.
class WakeControllerRemote : public ::testing::Test {
protected:
    void SetUp() override {
        h.power->setHelperInstalled(true);
        h.power->setHelperWorks(true);
        h.power->setLidClosed(true);
        h->setRemoteWakeEnabled(true);
        h->start();
        h.settle();
        sleepArmed();
    }
    void sleepArmed() {
        h->requestSleepFromMenu();
        h.tickAfter(2);
        h.settle();
        ASSERT_TRUE(h->remoteCycleArmed());
        h.power->clearRecords();
        h.clock.advance(15 * 60);
    }
    long cancelWakes() const { return h.power->count("cancelWakeAlarm"); }

    EngineHarness h;
    WakeControllerProbe probe{h.controller()};
};

TEST_F(WakeControllerRemote, WindowThenBackToSleepTenSecondsAfterItEnds) {
    h.workspace->fireResume();
    EXPECT_FALSE(probe.awaitingWake());
    EXPECT_EQ(h->remoteListeningUntil(), h.clock.now() + std::chrono::seconds(180));
    EXPECT_EQ(h.logMessages().back(), "Remote check — listening 180s for Telegram");
    EXPECT_TRUE(h.power->held.contains(systemAssertionType));
    EXPECT_TRUE(h->holds().empty()) << "the window is no hold a caller could release";
    EXPECT_FALSE(h->handle({"hold", {{"id", "remote-check"}, {"for", "2h"}}}).ok);

    // An agent's hold taken in the window keeps the machine up past it, still armed.
    h.tickAfter(60);
    h.hold("task", 150);
    h.tickAfter(149);
    EXPECT_FALSE(h->remoteListeningUntil());
    h.tickAfter(1); // the task's hold ends now
    h.tickAfter(9);
    EXPECT_FALSE(probe.sleeping());
    h.tickAfter(1);
    EXPECT_TRUE(probe.sleeping());
    EXPECT_EQ(h.logMessages().back(), "Going to sleep — remote check finished");
    h.settle();
    EXPECT_TRUE(h->remoteCycleArmed());
    EXPECT_EQ(h.power->count("sleepNow"), 1);
    EXPECT_EQ(cancelWakes(), 0);

    // Waking it in the next window keeps it up and ends the cycle with its scheduled wake.
    h.workspace->fireResume();
    EXPECT_EQ(h->handle({"wake", {}}).message,
              "☀️ The computer is awake and will stay awake, even with the lid closed.");
    EXPECT_EQ(h->session()->kind, SessionKind::indefinite());
    EXPECT_FALSE(h->remoteCycleArmed());
    EXPECT_EQ(h.power->count("wakeDisplay"), 1);
    h.settle();
    EXPECT_EQ(cancelWakes(), 1);
}

TEST_F(WakeControllerRemote, AnOpenLidEndsTheCycle) {
    h.power->setLidClosed(false);
    h.workspace->fireResume();
    EXPECT_EQ(h.logMessages().back(), "Lid opened — remote checks stopped");
    EXPECT_FALSE(h->remoteCycleArmed());
    h.settle();
    EXPECT_EQ(h.power->operations(), Words{"cancelWakeAlarm"});

    // Opening the lid during a window ends the cycle silently when the window is over.
    h.power->setLidClosed(true);
    sleepArmed();
    h.workspace->fireResume();
    h.power->setLidClosed(false);
    const auto lines = h.logLines().size();
    h.tickAfter(180);
    h.tickAfter(9);
    EXPECT_TRUE(h->remoteCycleArmed());
    h.tickAfter(1);
    EXPECT_FALSE(h->remoteCycleArmed());
    EXPECT_FALSE(probe.sleeping());
    EXPECT_EQ(h.logLines().size(), lines);
    h.settle();
    EXPECT_EQ(cancelWakes(), 1);
}

TEST_F(WakeControllerRemote, TurningTheFeatureOffMidWindowLetsTheMachineSleep) {
    h.workspace->fireResume();
    h.settle();
    h->setRemoteWakeEnabled(false);
    EXPECT_FALSE(h->isAwake());
    EXPECT_FALSE(h.power->held.contains(systemAssertionType)) << "the window's assertion went";
    h.settle();
    EXPECT_EQ(cancelWakes(), 1);
    EXPECT_EQ(h.power->operations().back(), "releaseLid");
}

} // namespace
