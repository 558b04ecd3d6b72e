#include "Support/EngineHarness.h"
#include "Support/WakeControllerProbe.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

const std::string changeFailed = "⚠️ Lid-closed mode change failed (will retry): ";

// A running session; the mode is switched on once the helper is known to work.
class WakeControllerLid : public ::testing::Test {
protected:
    void SetUp() override { h->startSession(SessionKind::indefinite()); }
    // Moves the clock, ticks and runs what the tick queued.
    void after(double seconds) {
        h.tickAfter(seconds);
        h.settle();
    }
    long calls(const std::string& subcommand) const {
        return std::ranges::count(h.power->helperCalls, subcommand);
    }

    EngineHarness h;
};

TEST_F(WakeControllerLid, FollowsWhatKeepsTheMachineAwakeAndRenewsTheLease) {
    EXPECT_TRUE(h.power->helperCalls.empty()) << "not before the helper is known to work";
    h.readyHelper();
    EXPECT_EQ(h.power->helperCalls, Words{"lid-on"});
    EXPECT_TRUE(h->lidModeActive());

    after(25);
    EXPECT_EQ(calls("renew"), 0);
    after(1);
    after(1); // one renewal per interval
    EXPECT_EQ(calls("renew"), 1);

    h->endSession("done");
    h.settle();
    EXPECT_EQ(h.power->helperCalls.back(), "lid-off");
    EXPECT_FALSE(h->lidModeActive());
}

TEST_F(WakeControllerLid, FailedChangesBackOffAndRepeatedFailuresAreLoggedOnce) {
    h.power->queuedResults["lid-on"] = {{3, "battery low"}, {3, "battery low"}, {-2, "timed out"}};
    h.readyHelper();
    EXPECT_FALSE(h->lidModeActive());
    after(59);
    EXPECT_EQ(calls("lid-on"), 1) << "a refusal waits 60 s";
    after(1);
    EXPECT_EQ(calls("lid-on"), 2);
    EXPECT_EQ(std::ranges::count(h.logMessages(), changeFailed + "battery low"), 1);

    after(60); // a hung helper cut at its time-out is a failure like any other
    EXPECT_EQ(h->lastEvent(), changeFailed + "timed out");
    after(9);
    EXPECT_EQ(calls("lid-on"), 3) << "other failures wait 10 s";
    after(1);
    EXPECT_EQ(calls("lid-on"), 4);
    EXPECT_TRUE(h->lidModeActive());
}

TEST_F(WakeControllerLid, AFailedRenewalMeansTheGuardTookOver) {
    h.readyHelper();
    h.power->standingResults["renew"] = {1, "not the owner"};
    after(26);
    EXPECT_FALSE(h->lidModeActive());
    EXPECT_EQ(h->lastEvent(), "Lid-closed mode was turned off by the safety guard");
    after(29);
    EXPECT_EQ(calls("lid-on"), 1) << "it waits 30 s";
    after(1);
    EXPECT_EQ(calls("lid-on"), 2);
    EXPECT_TRUE(h->lidModeActive());
}

TEST_F(WakeControllerLid, NothingStartsWhileASleepAttemptRuns) {
    h.readyHelper();
    WakeControllerProbe(h.controller()).setSleeping(true);
    h.tickAfter(60);   // a renewal is due
    h->endSession(""); // and the mode is no longer wanted
    h.tickAfter(1);
    EXPECT_TRUE(h.privileged->tasks.empty());
}

TEST_F(WakeControllerLid, SetupAndRemovalRunBehindThePromptOneAtATime) {
    h.power->setupError = "Setup was cancelled.";
    EXPECT_EQ(h->handle({"setup", {}}).message,
              "Approve the administrator prompt on the computer to finish setup.");
    h->runSetup();
    EXPECT_EQ(h.background->runAll(), 1u);
    h.settle();
    EXPECT_EQ(h->lastEvent(), "Setup failed: Setup was cancelled.");

    h.power->setupError.reset();
    h.power->setHelperInstalled(true);
    h.power->setHelperWorks(true);
    h->setMinimumBattery(25);
    h->runSetup();
    h.background->runAll();
    h.settle();
    EXPECT_EQ(h->lastEvent(), "Lid-closed mode is ready");
    EXPECT_EQ(h.power->installedFloors, (std::vector<int>{10, 25}));
    EXPECT_TRUE(h->lidModeActive());

    // The helper vanishes before its removal could switch the mode off: nobody is left to ask.
    EXPECT_EQ(h->handle({"uninstall-helper", {}}).message,
              "Approve the administrator prompt to remove the helper.");
    h.power->setHelperInstalled(false);
    h.power->queuedResults["lid-off"] = {{1, "sudo: not found"}};
    h.settle();
    EXPECT_TRUE(h->lidModeActive());
    h.tickAfter(10);
    EXPECT_FALSE(h->lidModeActive());
    EXPECT_EQ(calls("lid-off"), 1);
}

} // namespace
