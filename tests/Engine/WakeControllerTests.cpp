#include "Support/EngineHarness.h"
#include "Support/WakeControllerProbe.h"

#include <gtest/gtest.h>

#include <tuple>

auto settingsOf(const WakeController& c) {
    return std::tuple(c.lidClosedMode(), c.keepDisplayOn(), c.remoteWakeEnabled(),
                      c.remoteWakeInterval(), c.minimumBattery(), c.stopOnLowBattery());
}
const auto defaults = std::tuple(true, false, false, 15, 10, true);

TEST(WakeControllerSettings, FileValuesAreReadOnceAndClampedLikeSetExceptAnOffFloor) {
    EngineHarness fresh;
    EXPECT_EQ(settingsOf(fresh.controller()), defaults);
    EXPECT_TRUE(fresh.reopenSettings()->allKeys().isEmpty()) << "defaults are not written";

    for (const auto& [file, interval, floor] : std::vector<std::tuple<std::string, int, int>>{
             {"remoteWakeInterval=3\nminimumBattery=-1\n", 5, 1},
             {"remoteWakeInterval=300\nminimumBattery=80\n", 240, 50},
             {"minimumBattery=0\n", 15, 0}}) { // 0 turns the floor off
        EngineHarness h("[General]\n" + file + "lidClosedMode=false\n");
        EXPECT_EQ(settingsOf(h.controller()),
                  std::tuple(false, false, false, interval, floor, true))
            << file;
    }
    // A floor of 0 never trips, even at 0 percent.
    EngineHarness h("[General]\nminimumBattery=0\n");
    h.power->setBattery({.onBattery = true, .percent = 0});
    h->startSession(SessionKind::indefinite());
    EXPECT_TRUE(h->session());

    h.reopenSettings()->setValue("remoteWakeInterval", 30);
    EXPECT_EQ(h->remoteWakeInterval(), 15) << "later changes to the store are not picked up";
}

TEST(WakeControllerSettings, EveryAssignmentStoresAndReactsAndADamagedStoreFallsBackToDefaults) {
    EngineHarness h;
    h->startSession(SessionKind::indefinite());
    h.power->refusedAssertions = {displayAssertionType};
    h->setKeepDisplayOn(true);
    EXPECT_FALSE(h.power->held.contains(displayAssertionType));
    h.power->refusedAssertions.clear();
    h->setKeepDisplayOn(true);
    EXPECT_EQ(h->snapshot().inhibitorsHeld, (Words{"logind", "screensaver"}));
    EXPECT_EQ(h.logMessages().back(), "Keeping awake with logind, screensaver") << "a change";

    int changes = 0;
    QObject::connect(&h.controller(), &WakeController::changed, [&] { ++changes; });
    h->setRemoteWakeInterval(240);
    EXPECT_EQ(changes, 1) << "observers hear of the change after it";
    h->setRemoteWakeInterval(240);
    EXPECT_EQ(changes, 1) << "an equal value is no change";
    h->setMinimumBattery(0); // the panel and `set` keep to the range
    h->setLidClosedMode(false);
    h.recreate();
    EXPECT_EQ(settingsOf(h.controller()), std::tuple(false, true, false, 240, 1, true));

    EngineHarness broken("[General\nlidClosedMode=false\nremoteWakeInterval=60\n");
    EXPECT_EQ(settingsOf(broken.controller()), defaults);
    EXPECT_TRUE(broken.lastEvent()->starts_with("⚠️ Settings: couldn't read "));
    EXPECT_EQ(broken->lastEvent()->kind, LogEvent::Kind::warning);

    EngineHarness odd(
        "[General]\nkeepDisplayOn=maybe\nminimumBattery=lots\nstopOnLowBattery=false\n");
    EXPECT_EQ(settingsOf(odd.controller()), std::tuple(true, false, false, 15, 10, false));
    EXPECT_EQ(odd.lastEvent(), "⚠️ Settings: unreadable keepDisplayOn, minimumBattery; "
                               "using defaults");
}

// Start cancels a wake alarm an earlier run left; shutdown drains the queue, then gives the lid
// back and cancels the alarm itself.
TEST(WakeControllerLifecycle, StartAndShutdownLeaveNothingBehind) {
    EngineHarness h;
    h.power->setHelperInstalled(true);
    h.power->setHelperWorks(true);
    h->start();
    h->setKeepDisplayOn(true);
    h->startSession(SessionKind::indefinite());
    auto attempt = std::make_shared<SleepOperation>();
    WakeControllerProbe(h.controller()).setSleepOperation(attempt);
    h.privileged->post([power = h.power] { power->journal.push_back("queued"); });
    h.power->journal.clear();

    h->shutdown();
    EXPECT_TRUE(attempt->cancelled());
    EXPECT_EQ(h.privileged->drains, 1);
    // What was queued (here a wake alarm an earlier run left) runs before the lid is given back.
    EXPECT_EQ(h.power->journal,
              (Words{"assert " + systemAssertionType + " off",
                     "assert " + displayAssertionType + " off", "lidAvailable", "wakeHelperWorks",
                     "cancelWakeAlarm", "queued", "releaseLid", "cancelWakeAlarm"}));
    h.settle(); // a result that arrives after shutdown changes nothing
    EXPECT_FALSE(h->lidAvailable());
    EXPECT_FALSE(h.keptAwake());

    EngineHarness armed;
    armed.power->setHelperInstalled(true);
    WakeControllerProbe(armed.controller()).setRemoteCycleArmed(true);
    armed->shutdown();
    EXPECT_EQ(armed.power->operations(), Words{"releaseLid"}) << "the scheduled wake stays";
}
