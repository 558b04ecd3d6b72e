#include "Support/EngineHarness.h"
#include "Support/WakeControllerProbe.h"

#include <gtest/gtest.h>

#include <tuple>

namespace {

using PowerControl::displayAssertionType;
using PowerControl::systemAssertionType;

auto settingsOf(const WakeController& c) {
    return std::tuple(c.lidClosedMode(), c.keepDisplayOn(), c.remoteWakeEnabled(),
                      c.remoteWakeInterval(), c.minimumBattery(), c.stopOnLowBattery());
}
const auto defaults = std::tuple(true, false, false, 15, 10, true);

TEST(WakeControllerSettings, DefaultsAndStoredValuesAreReadOnce) {
    EngineHarness fresh;
    EXPECT_EQ(settingsOf(fresh.controller()), defaults);
    EXPECT_TRUE(fresh.reopenSettings()->allKeys().isEmpty()) << "defaults are not written";

    EngineHarness h({.settingsFile = "[General]\nremoteWakeInterval=3\nminimumBattery=0\n"
                                     "lidClosedMode=false\nkeepDisplayOn=true\n"});
    EXPECT_EQ(settingsOf(h.controller()), std::tuple(false, true, false, 5, 0, true));
    // A floor of 0 never trips, even at 0 percent.
    h.power->setBattery({.onBattery = true, .percent = 0});
    h->startSession(SessionKind::indefinite());
    EXPECT_TRUE(h->session());

    h.reopenSettings()->setValue("remoteWakeInterval", 300);
    EXPECT_EQ(h->remoteWakeInterval(), 5) << "later changes to the store are not picked up";
    h.recreate();
    EXPECT_EQ(h->remoteWakeInterval(), 300);
}

TEST(WakeControllerSettings, EveryAssignmentStoresAndReactsEvenToAnEqualValue) {
    EngineHarness h;
    h->startSession(SessionKind::indefinite());
    h.power->refusedAssertions = {displayAssertionType};
    h->setKeepDisplayOn(true);
    EXPECT_FALSE(h.power->held.contains(displayAssertionType));
    h.power->refusedAssertions.clear();
    h->setKeepDisplayOn(true);
    EXPECT_TRUE(h.power->held.contains(displayAssertionType));

    h->setRemoteWakeInterval(240);
    h->setMinimumBattery(25);
    h->setLidClosedMode(false);
    h.recreate();
    EXPECT_EQ(settingsOf(h.controller()), std::tuple(false, true, false, 240, 25, true));
}

TEST(WakeControllerSettings, DamagedStoreFallsBackToDefaultsWithAWarning) {
    EngineHarness broken(
        {.settingsFile = "[General\nlidClosedMode=false\nremoteWakeInterval=60\n"});
    EXPECT_EQ(settingsOf(broken.controller()), defaults);
    EXPECT_TRUE(broken->lastEvent()->starts_with("⚠️ Settings: couldn't read "));
    EXPECT_EQ(broken.logMessages().size(), 1u);

    EngineHarness odd({.settingsFile = "[General]\nkeepDisplayOn=maybe\nminimumBattery=lots\n"
                                       "stopOnLowBattery=false\n"});
    EXPECT_EQ(settingsOf(odd.controller()), std::tuple(true, false, false, 15, 10, false));
    EXPECT_EQ(odd->lastEvent(), "⚠️ Settings: unreadable keepDisplayOn, minimumBattery; "
                                "using defaults");
}

// Start queues the clean-up of what an earlier run left with the helper; shutdown drains the
// queue and then returns the machine to normal sleep itself.
TEST(WakeControllerLifecycle, StartAndShutdownLeaveTheHelperClean) {
    EngineHarness h;
    h.power->setHelperInstalled(true);
    h.power->setHelperWorks(true);
    h->start();
    h->setKeepDisplayOn(true);
    h->startSession(SessionKind::indefinite());
    auto attempt = std::make_shared<SleepOperation>();
    WakeControllerProbe(h.controller()).setSleepOperation(attempt);
    h.privileged->post([power = h.power] { power->journal.push_back("queued"); });
    h.power->clearRecords();

    h->shutdown();
    EXPECT_TRUE(attempt->cancelled());
    EXPECT_EQ(h.privileged->drains, 1);
    const auto journal = h.power->journal;
    ASSERT_EQ(journal.size(), 9u);
    EXPECT_EQ(Words(journal.begin(), journal.begin() + 2),
              (Words{"assert " + systemAssertionType + " off",
                     "assert " + displayAssertionType + " off"}));
    EXPECT_EQ(journal[6], "queued") << "what was queued runs before the final lid-off";
    EXPECT_EQ(h.power->helperCalls, (Words{"lid-off", "cancel-wake", "lid-off", "cancel-wake"}));
    h.settle(); // a result that arrives after the final lid-off changes nothing
    EXPECT_FALSE(h->helperReady());
    EXPECT_FALSE(h.power->held.contains(systemAssertionType));

    EngineHarness armed;
    armed.power->setHelperInstalled(true);
    WakeControllerProbe(armed.controller()).setRemoteCycleArmed(true);
    armed->shutdown();
    EXPECT_EQ(armed.power->helperCalls, Words{"lid-off"}) << "the scheduled wake stays";
}

} // namespace
