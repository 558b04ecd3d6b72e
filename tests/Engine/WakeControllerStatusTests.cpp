#include "Lumenor/Engine/KeepAwakeSession.h"
#include "Support/EngineHarness.h"
#include "Support/WakeControllerProbe.h"

#include <QLocale>

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <unistd.h>

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
    EXPECT_EQ(h->statusLine(), "Awake for remote tools");
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

TEST(WakeControllerStatus, SnapshotReportsTheLastUpdateAndTheLogOneLinePerEvent) {
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

    // One timestamped line per event, in one line, appended to by the next run.
    h.clock.advance(0.999);
    h->log("⚠️ Lid-closed mode change failed (will retry): sudo: a password is "
           "required\nline\x1b[2J 2");
    h.recreate();
    h->log("again");
    const Words lines = h.logLines();
    EXPECT_EQ(lines.front(), "2026-03-01T18:00:01Z Started: While Safari is running");
    EXPECT_EQ(
        Words(lines.end() - 2, lines.end()),
        (Words{"2026-03-01T18:00:02Z ⚠️ Lid-closed mode change failed (will retry): sudo: a "
               "password is required line\\x1b[2J 2",
               "2026-03-01T18:00:02Z again"}));
}

std::string title(SessionKind kind, Instant now) {
    return KeepAwakeSession{std::move(kind), now}.title(now);
}

TEST(KeepAwakeSession, TitlesShowTheDateOnlyForAnotherLocalDayAndNamesCompareNormalized) {
    ensureApplication();
    // Tokyo has no daylight saving, so the wall clock is always UTC + 9 hours.
    setenv("TZ", "JST-9", 1);
    tzset();
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const Instant morning = utc(2026, 3, 1, 1, 0); // 10:00 in Tokyo
    EXPECT_EQ(title(SessionKind::until(utc(2026, 3, 1, 14, 59)), morning), "Until 23:59");
    // 16:00 UTC is already the next day in Tokyo, though still the same day in UTC.
    EXPECT_EQ(title(SessionKind::until(utc(2026, 3, 1, 16, 0)), morning), "Until 02.03.26 01:00");
    unsetenv("TZ");
    tzset();

    EXPECT_EQ(title(SessionKind::file("/home/me/Downloads/Album/"), morning),
              "While Album downloads");

    // The same name in composed and decomposed form is the same name.
    EXPECT_EQ(SessionKind::app(3, "Caf\xC3\xA9"), SessionKind::app(3, "Cafe\xCC\x81"));
}
