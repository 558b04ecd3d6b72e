#include "Support/EngineHarness.h"
#include "Support/WakeControllerProbe.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <unistd.h>

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

TEST_F(WakeControllerLid, SetupRunsBehindOnePromptOrSaysWhyItCannotStart) {
    h.power->setupBlocked = "Lumenor can't ask for administrator approval here: pkexec is not "
                            "installed.";
    auto response = h->handle({"setup", {}});
    EXPECT_FALSE(response.ok);
    EXPECT_EQ(response.message, *h.power->setupBlocked);
    EXPECT_EQ(h->lastEvent(), "Setup failed: " + *h.power->setupBlocked);
    EXPECT_EQ(h.background->runAll(), 0u) << "no prompt";

    h.power->setupBlocked.reset();
    h.power->setupError = "Setup was cancelled.";
    response = h->handle({"setup", {}});
    EXPECT_TRUE(response.ok);
    EXPECT_EQ(response.message,
              "Approve the administrator prompt on the computer to finish setup.");
    EXPECT_EQ(h->lastEvent(), WakeController::setupExplanation);
    h->runSetup();
    EXPECT_EQ(h.background->runAll(), 1u);
    h.settle();
    EXPECT_EQ(h->lastEvent(), "Setup failed: Setup was cancelled.");
    EXPECT_FALSE(h->setupInProgress());

    h.power->setupError.reset();
    h.power->setHelperInstalled(true);
    h->runSetup();
    h.background->runAll();
    h.settle();
    EXPECT_EQ(h->lastEvent(), "Setup failed: the helper was installed, but sudo -n doesn't run it");

    h.power->setHelperWorks(true);
    h->runSetup();
    h.background->runAll();
    h.settle();
    EXPECT_EQ(h->lastEvent(), "Scheduled wake is ready");
    EXPECT_EQ(h->snapshot().wakeHelperReady, true);
    EXPECT_TRUE(h->lidModeActive());
    EXPECT_EQ(h->handle({"setup", {}}).message, "Scheduled wake is already set up.");

    // Removing the wake helper leaves the lid alone, until nothing is left to ask for it.
    h->runUninstall();
    EXPECT_FALSE(h->wakeHelperReady());
    h.power->setHelperInstalled(false);
    h.power->setHelperWorks(false);
    h.background->runAll();
    h.settle();
    EXPECT_EQ(h.power->count("uninstallHelper"), 1);
    EXPECT_FALSE(h->lidModeActive());
    EXPECT_EQ(calls("lid-off"), 0);
}

// On Linux the lid is the app's own logind inhibitor: no helper, and maybe another holder.
TEST(WakeControllerLinuxLid, NeedsNoHelperAndNamesAnotherHolder) {
    EngineHarness h;
    h.power->lidInProcess = true;
    h.power->setLidModeWorks(true);
    const auto own = static_cast<uint32_t>(getpid());
    h.power->inhibitors = std::vector<PowerControl::Inhibitor>{
        // Ours, with the pid logind sees from outside a pid namespace.
        {"sleep:idle:handle-lid-switch", "Lumenor", "Lid-closed mode", "block", 1000, own + 7},
        {"handle-lid-switch", "Power Manager", "lid", "block", 1000, own + 1}};
    h->refreshHelper();
    h->startSession(SessionKind::indefinite());
    h.settle();
    EXPECT_TRUE(h->lidModeActive());
    EXPECT_FALSE(h->wakeHelperReady());
    EXPECT_EQ(h->snapshot().lidHandledBy, "Power Manager");
    const std::string note = "Power Manager handles the lid itself, so its own lid setting "
                             "decides what closing the lid does";
    EXPECT_EQ(h->lastEvent(), "⚠️ " + note);
    EXPECT_EQ(h->handle({"on", {}}).message,
              "Keeping the computer awake — Indefinitely. ⚠️ " + note + ".");
    h->setMinimumBattery(25);
    EXPECT_EQ(h.power->lidBatteryFloor, 25) << "the in-process lid-on refuses at the floor";

    // Without the wake helper a sleep arms nothing, but still gives the lid back first.
    h->setRemoteWakeEnabled(true);
    h->requestSleepFromMenu();
    h.tickAfter(2);
    h.settle();
    EXPECT_EQ(h.power->helperCalls, (Words{"lid-on", "lid-off"}));
    EXPECT_FALSE(h->remoteCycleArmed());

    // The other holder is looked for again once a minute.
    h.power->inhibitors->pop_back();
    h.tickAt(utc(2026, 3, 1, 18, 1, 0));
    h.settle();
    EXPECT_FALSE(h->lidHandledBy());
}

} // namespace
