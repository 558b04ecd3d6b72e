#include "Support/EngineHarness.h"
#include "Support/WakeControllerProbe.h"

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

using std::chrono::seconds;

TEST(WakeControllerStatus, StatusLineTakesTheFirstRuleThatApplies) {
    EngineHarness h;
    WakeControllerProbe probe(h.controller());
    EXPECT_EQ(h->statusLine(), "Off");
    probe.setRemoteCycleArmed(true);
    EXPECT_EQ(h->statusLine(), "Asleep between checks");
    h.hold("task", 12 * 60);
    EXPECT_EQ(h->statusLine(), "task · 12m 00s");
    h.hold("build", 60, getpid(), "nightly build");
    EXPECT_EQ(h->statusLine(), "2 tasks · 12m 00s");
    h.hold("task", 0);
    EXPECT_EQ(h->statusLine(), "nightly build · while it runs");
    h.hold("task", 12 * 60);
    h->release("build");
    probe.setRemoteListeningUntil(h->now() + seconds(180));
    EXPECT_EQ(h->statusLine(), "Listening for Telegram");
    h->startSession(SessionKind::app(getpid(), "Safari"));
    EXPECT_EQ(h->statusLine(), "While Safari is running");
    h->startSession(SessionKind::until(h->now() + seconds(5400)));
    EXPECT_EQ(h->statusLine(), "1h 30m left");

    h.hold("task", 600);
    h->setPendingSleep(PendingSleep{h->now() + seconds(20), getpid(), false, "CLI"});
    EXPECT_EQ(h->statusLine(), "Sleeps when the task ends");
    h->setPendingSleep(PendingSleep{h->now() + seconds(20), deadPid, false, "CLI"});
    EXPECT_EQ(h->statusLine(), "Sleeps when tasks end");
    // A forced request ignores the holds but still counts 10 s from the last one.
    h->setPendingSleep(PendingSleep{h->now() + seconds(3), deadPid, true, "CLI"});
    EXPECT_EQ(h->statusLine(), "Sleeping in 3s");
    h->release("task");
    EXPECT_EQ(h->statusLine(), "Sleeping in 10s");
    // The listening window alone is no task that a sleep waits for.
    probe.setRemoteListeningUntil(h->now() + seconds(180));
    h->setPendingSleep(PendingSleep{h->now() + seconds(20), deadPid, false, "CLI"});
    EXPECT_EQ(h->statusLine(), "Sleeping in 20s");
}

TEST(WakeControllerStatus, SnapshotReportsTheStateAsOfTheLastUpdate) {
    EngineHarness h;
    h.power->setBattery({.onBattery = true, .percent = 82});
    h->startSession(SessionKind::app(getpid(), "Safari"));
    h.hold("a", 60);
    h.hold("b", 600);
    h.tickAfter(1);
    h->setPendingSleep(PendingSleep{h->now() - seconds(30), getpid(), false, "CLI"});
    h->setRemoteWakeInterval(42);

    EXPECT_EQ(h->snapshot(),
              (LumenorStatus{.awake = true,
                             .sessionDescription = "While Safari is running",
                             .holdUntil = h->now() + seconds(599),
                             .lidClosedMode = true,
                             .lidClosedModeActive = false,
                             .lidClosedModeAvailable = false,
                             .keepDisplayOn = false,
                             .pendingSleepAt = h->now(), // past its time: due now
                             .pendingSleepWaitingForPid = getpid(),
                             .remoteWakeEnabled = false,
                             .remoteWakeIntervalMinutes = 42,
                             .remoteWakeCycleArmed = false,
                             .onBattery = true,
                             .batteryPercent = 82,
                             .holds = std::vector<LumenorHold>{{"a", "", h->now() + seconds(59)},
                                                               {"b", "", h->now() + seconds(599)}},
                             .wakeHelperReady = false,
                             .inhibitorsHeld = std::vector<std::string>{"logind"}}));
}

TEST(WakeControllerStatus, LogAppendsOneTimestampedLinePerEvent) {
    EngineHarness h;
    h->startSession(SessionKind::indefinite());
    h.clock.advance(0.999);
    h->log(
        "⚠️ Lid-closed mode change failed (will retry): sudo: a password is required\nline 2");
    h.recreate(); // a new run appends to the same file
    h->log("again");
    EXPECT_EQ(h.logLines(),
              (std::vector<std::string>{
                  "2026-03-01T18:00:01Z Started: Indefinitely",
                  "2026-03-01T18:00:01Z Keeping awake with logind",
                  "2026-03-01T18:00:01Z ⚠️ Lid-closed mode change failed (will retry): sudo: a "
                  "password is required line 2",
                  "2026-03-01T18:00:01Z again"}));
    EXPECT_EQ(h.lastEvent(), "again");
}

} // namespace
