#include "Support/EngineHarness.h"
#include "Support/WakeControllerProbe.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

#include <tuple>

namespace {

using PowerControl::displayAssertionType;
using PowerControl::systemAssertionType;
using Words = std::vector<std::string>;

auto settingsOf(const WakeController& c) {
    return std::tuple(c.lidClosedMode(), c.keepDisplayOn(), c.remoteWakeEnabled(),
                      c.remoteWakeInterval(), c.minimumBattery(), c.stopOnLowBattery());
}

TEST(WakeControllerSettings, FirstRunTakesTheDefaultsAndWritesNothing) {
    EngineHarness h;
    EXPECT_EQ(settingsOf(h.controller()), std::tuple(true, false, false, 15, 10, true));
    EXPECT_TRUE(h.reopenSettings()->allKeys().isEmpty());
    EXPECT_FALSE(h->lastEvent());
}

TEST(WakeControllerSettings, StoredValuesAreReadOnceWithTheIntervalRaisedToFive) {
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

TEST(WakeControllerSettings, EveryAssignmentNotifiesStoresAndReacts) {
    EngineHarness h;
    QSignalSpy changes(&h.controller(), &WakeController::aboutToChange);
    h->startSession(SessionKind::indefinite());
    h.power->refuseAssertions(displayAssertionType, true);
    h->setKeepDisplayOn(true);
    EXPECT_FALSE(h.power->held(displayAssertionType));

    h.power->refuseAssertions(displayAssertionType, false);
    changes.clear();
    h->setKeepDisplayOn(true); // the same value still reapplies the power state
    EXPECT_TRUE(h.power->held(displayAssertionType));
    EXPECT_GE(changes.count(), 1);

    h->setRemoteWakeInterval(240);
    h->setMinimumBattery(25);
    h->setLidClosedMode(false);
    auto stored = h.reopenSettings();
    EXPECT_EQ(stored->value("keepDisplayOn").toBool(), true);
    EXPECT_EQ(stored->value("remoteWakeInterval").toInt(), 240);
    EXPECT_EQ(stored->value("minimumBattery").toInt(), 25);
    EXPECT_EQ(stored->value("lidClosedMode").toBool(), false);
}

TEST(WakeControllerSettings, TurningRemoteWakeOffDisarmsTheCycle) {
    EngineHarness h;
    WakeControllerProbe probe(h.controller());
    h->setRemoteWakeEnabled(true);
    EXPECT_FALSE(h->remoteCycleArmed());

    probe.setRemoteCycleArmed(true);
    probe.setRemoteListeningUntil(h.clock.now() + std::chrono::seconds(180));
    h->hold(WakeController::remoteCheckHold, 180);
    h->hold("task", 60);
    h->setRemoteWakeEnabled(false);
    EXPECT_FALSE(h->remoteCycleArmed());
    EXPECT_FALSE(h->remoteListeningUntil());
    EXPECT_EQ(h->holds().count(WakeController::remoteCheckHold), 0u);
    EXPECT_EQ(h->holds().count("task"), 1u);
    EXPECT_EQ(probe.lastHoldEndedAt(), distantPast);
}

TEST(WakeControllerSettings, DamagedStoreFallsBackToDefaultsWithAWarning) {
    EngineHarness broken(
        {.settingsFile = "[General\nlidClosedMode=false\nremoteWakeInterval=60\n"});
    EXPECT_EQ(settingsOf(broken.controller()), std::tuple(true, false, false, 15, 10, true));
    ASSERT_TRUE(broken->lastEvent());
    EXPECT_EQ(broken->lastEvent()->rfind("⚠️ Settings: couldn't read ", 0), 0u);
    EXPECT_EQ(broken.logMessages().size(), 1u);

    EngineHarness odd({.settingsFile = "[General]\nkeepDisplayOn=maybe\nminimumBattery=lots\n"
                                       "stopOnLowBattery=false\n"});
    EXPECT_FALSE(odd->keepDisplayOn());
    EXPECT_EQ(odd->minimumBattery(), 10);
    EXPECT_FALSE(odd->stopOnLowBattery());
    EXPECT_EQ(odd->lastEvent(), "⚠️ Settings: unreadable keepDisplayOn, minimumBattery; "
                                "using defaults");

    // A folder where the file should be cannot be read or written; the app runs on.
    EngineHarness blocked;
    std::filesystem::create_directories(blocked.settingsPath());
    blocked.recreate();
    EXPECT_EQ(blocked->remoteWakeInterval(), 15);
    blocked->setRemoteWakeInterval(30);
    EXPECT_EQ(blocked->remoteWakeInterval(), 30);
}

TEST(WakeControllerLifecycle, StartClearsWhatAnEarlierRunLeftWithTheHelper) {
    EngineHarness h;
    h.power->setBattery({.onBattery = true, .percent = 55});
    h.power->setHelperInstalled(true);
    h->start();
    EXPECT_EQ(h->battery().percent, 55);
    EXPECT_TRUE(h.power->helperCalls().empty()) << "queued, not run on the main thread";
    h.privileged->runAll();
    EXPECT_EQ(h.power->helperCalls(), (Words{"lid-off", "cancel-wake"}));
    EXPECT_EQ(h.power->runCalls()[0].timeout, 20);

    EngineHarness bare;
    bare->start();
    bare.privileged->runAll();
    EXPECT_TRUE(bare.power->runCalls().empty());
}

TEST(WakeControllerLifecycle, ShutdownDrainsTheQueueThenReturnsToNormalSleep) {
    EngineHarness h;
    WakeControllerProbe probe(h.controller());
    h.power->setHelperInstalled(true);
    h.power->setHelperWorks(true);
    h->start();
    h->setKeepDisplayOn(true);
    h->startSession(SessionKind::indefinite());
    auto attempt = std::make_shared<SleepOperation>();
    probe.setSleepOperation(attempt);
    h.privileged->post([power = h.power] { power->run("/bin/queued", {}, 1); });
    h.power->clearRecords();

    h->shutdown();
    EXPECT_TRUE(attempt->cancelled());
    EXPECT_EQ(h.privileged->drains(), 1);
    const auto journal = h.power->journal();
    ASSERT_EQ(journal.size(), 8u);
    EXPECT_EQ(journal[0], "assert " + systemAssertionType + " off");
    EXPECT_EQ(journal[1], "assert " + displayAssertionType + " off");
    EXPECT_EQ(journal[2], "helperWorks");
    EXPECT_EQ(journal[5], "run /bin/queued"); // queued before shutdown, so it runs first
    EXPECT_EQ(h.power->helperCalls(), (Words{"lid-off", "cancel-wake", "lid-off", "cancel-wake"}));
    EXPECT_TRUE(h->session()) << "shutdown ends no session";
    h.settle(); // a result that arrives after the final lid-off changes nothing
    EXPECT_FALSE(h->helperReady());
    EXPECT_FALSE(h.power->held(systemAssertionType));

    EngineHarness armed;
    armed.power->setHelperInstalled(true);
    WakeControllerProbe(armed.controller()).setRemoteCycleArmed(true);
    armed->shutdown();
    EXPECT_EQ(armed.power->helperCalls(), Words{"lid-off"}) << "the scheduled wake stays";
}

} // namespace
