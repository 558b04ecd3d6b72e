#include "Support/EngineHarness.h"
#include "Support/WakeControllerProbe.h"

#include "LumenorCore/PrivilegedInstall.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using Words = std::vector<std::string>;

const std::string changeFailed = "⚠️ Lid-closed mode change failed (will retry): ";

// A running session with a working helper; the mode is switched on by the first reconciliation.
class WakeControllerLid : public ::testing::Test {
protected:
    void SetUp() override {
        h.power->setHelperInstalled(true);
        h.power->setHelperWorks(true);
        h->startSession(SessionKind::indefinite());
    }
    void becomeReady() {
        h->refreshHelper();
        h.settle();
    }
    int calls(const std::string& subcommand) const {
        return static_cast<int>(std::ranges::count(h.power->helperCalls(), subcommand));
    }
    int logged(const std::string& message) const {
        return static_cast<int>(std::ranges::count(h.logMessages(), message));
    }

    EngineHarness h;
    WakeControllerProbe probe{h.controller()};
};

TEST_F(WakeControllerLid, FollowsWhatKeepsTheMachineAwakeAndRenewsTheLease) {
    EXPECT_TRUE(h.power->helperCalls().empty()) << "not before the helper is known to work";
    becomeReady();
    EXPECT_TRUE(h->helperReady());
    EXPECT_EQ(h.power->helperCalls(), Words{"lid-on"});
    EXPECT_TRUE(h->lidModeActive());
    EXPECT_EQ(h.power->runCalls()[0].timeout, 20);

    h.tickAfter(25);
    h.settle();
    EXPECT_EQ(calls("renew"), 0);
    h.tickAfter(1);
    h.tickAfter(1); // one renewal per interval
    h.settle();
    EXPECT_EQ(calls("renew"), 1);

    h->endSession("done");
    h.settle();
    EXPECT_EQ(h.power->helperCalls().back(), "lid-off");
    EXPECT_FALSE(h->lidModeActive());
}

TEST_F(WakeControllerLid, FailedChangesBackOffAndRepeatedFailuresAreLoggedOnce) {
    h.power->queueHelperResult("lid-on", {3, "battery low"});
    h.power->queueHelperResult("lid-on", {3, "battery low"});
    h.power->queueHelperResult("lid-on", {-2, "timed out"});
    becomeReady();
    EXPECT_FALSE(h->lidModeActive());
    EXPECT_EQ(h->lastEvent(), changeFailed + "battery low");
    h.tickAfter(59);
    h.settle();
    EXPECT_EQ(calls("lid-on"), 1);
    h.tickAfter(1);
    h.settle();
    EXPECT_EQ(calls("lid-on"), 2);
    EXPECT_EQ(logged(changeFailed + "battery low"), 1);

    h.tickAfter(60);
    h.settle(); // a hung helper cut at its time-out is a failure like any other
    EXPECT_EQ(h->lastEvent(), changeFailed + "timed out");
    h.tickAfter(9);
    h.settle();
    EXPECT_EQ(calls("lid-on"), 3);
    h.tickAfter(1);
    h.settle();
    EXPECT_EQ(calls("lid-on"), 4);
    EXPECT_TRUE(h->lidModeActive());
}

TEST_F(WakeControllerLid, AFailedRenewalMeansTheGuardTookOver) {
    becomeReady();
    h.power->setHelperResult("renew", {1, "not the owner"});
    h.tickAfter(26);
    h.settle();
    EXPECT_FALSE(h->lidModeActive());
    EXPECT_EQ(h->lastEvent(), "Lid-closed mode was turned off by the safety guard");
    h.tickAfter(29);
    h.settle();
    EXPECT_EQ(calls("lid-on"), 1);
    h.tickAfter(1);
    h.settle();
    EXPECT_EQ(calls("lid-on"), 2);
    EXPECT_TRUE(h->lidModeActive());
}

TEST_F(WakeControllerLid, NothingStartsWhileASleepAttemptRuns) {
    becomeReady();
    probe.setSleeping(true);
    h.tickAfter(60);   // a renewal is due
    h->endSession(""); // and the mode is no longer wanted
    h.tickAfter(1);
    EXPECT_EQ(h.privileged->pending(), 0u);
    EXPECT_EQ(h.power->helperCalls(), Words{"lid-on"});
}

TEST_F(WakeControllerLid, RemovalSwitchesTheModeOffEvenWhenTheHelperVanishesFirst) {
    becomeReady();
    h.power->clearRecords();
    EXPECT_EQ(h->handle({"uninstall-helper", {}}).message,
              "Approve the administrator prompt to remove the helper.");
    EXPECT_FALSE(h->helperReady());
    EXPECT_EQ(h.privileged->pending(), 1u) << "lid-off is queued";

    h.power->setHelperInstalled(false);
    h.power->setHelperWorks(false);
    h.power->queueHelperResult("lid-off", {1, "sudo: not found"});
    h.background->runAll();
    h.settle();
    EXPECT_EQ(logged("Helper removed"), 1);
    EXPECT_TRUE(h->lidModeActive());
    h.tickAfter(10);
    EXPECT_FALSE(h->lidModeActive());
    EXPECT_EQ(h.power->helperCalls(), Words{"lid-off"});
    EXPECT_EQ(h.power->adminScripts(), Words{PrivilegedInstall::uninstallScript()});

    h.power->setAdminError("The user cancelled.");
    h->runUninstall();
    h.background->runAll();
    h.settle();
    EXPECT_EQ(h->lastEvent(), "The user cancelled.");
}

TEST_F(WakeControllerLid, SetupRunsOneAtATime) {
    const std::string asked = "Approve the administrator prompt on the Mac to finish setup.";
    h.power->setHelperWorks(false);
    h.power->setInstallError("Setup was cancelled.");
    h->setMinimumBattery(25);
    EXPECT_EQ(h->handle({"setup", {}}).message, asked);
    EXPECT_EQ(h->handle({"setup", {}}).message, asked);
    EXPECT_TRUE(h->setupInProgress());
    EXPECT_EQ(h.background->runAll(), 1u);
    h.settle();
    EXPECT_FALSE(h->setupInProgress());
    EXPECT_EQ(h->lastEvent(), "Setup failed: Setup was cancelled.");

    h.power->setInstallError(std::nullopt);
    h.power->setHelperWorks(true);
    h->runSetup();
    h.background->runAll();
    h.settle();
    EXPECT_EQ(logged("Lid-closed mode is ready"), 1);
    EXPECT_EQ(h.power->installedMinimumBatteries(), (std::vector<int>{25, 25}));
    EXPECT_TRUE(h->lidModeActive());
    EXPECT_EQ(h->handle({"setup", {}}).message, "Lid-closed mode is already set up.");
}

} // namespace
