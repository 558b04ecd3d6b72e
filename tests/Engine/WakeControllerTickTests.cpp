#include "Support/EngineHarness.h"
#include "Support/WakeControllerProbe.h"

#include <gtest/gtest.h>

#include <fstream>
#include <limits>
#include <unistd.h>

namespace {

using PowerControl::displayAssertionType;
using PowerControl::systemAssertionType;
using Messages = std::vector<std::string>;

constexpr int32_t deadPid = std::numeric_limits<int32_t>::max();

void appendBytes(const std::filesystem::path& file, size_t count) {
    std::ofstream(file, std::ios::app | std::ios::binary) << std::string(count, 'x');
}

TEST(WakeControllerTick, UntilSessionEndsOnTheFirstTickAtOrAfterItsEnd) {
    EngineHarness h({.start = utc(2026, 3, 1, 9, 59, 58), .settingsFile = {}});
    h->startSession(SessionKind::until(utc(2026, 3, 1, 10, 0, 0)));
    EXPECT_TRUE(h.power->held(systemAssertionType));

    h.tickAt(utc(2026, 3, 1, 10, 0, 0) - std::chrono::milliseconds(1));
    EXPECT_TRUE(h->session());
    h.tickAt(utc(2026, 3, 1, 10, 0, 0));
    EXPECT_FALSE(h->session());
    EXPECT_FALSE(h.power->held(systemAssertionType));
    ASSERT_EQ(h.logMessages().size(), 2u);
    EXPECT_EQ(h.logMessages()[1], "Session ended — time is up");
}

TEST(WakeControllerTick, ProcessAndAppSessionsEndWhenTheirProcessIsGone) {
    EngineHarness h;
    h->start();
    h->startSession(SessionKind::process(getpid(), "tests"));
    h.tickAfter(1);
    EXPECT_TRUE(h->session());
    h->startSession(SessionKind::process(deadPid, "build"));
    h.tickAfter(1);
    EXPECT_FALSE(h->session());

    h->startSession(SessionKind::app(getpid(), "Safari"));
    EXPECT_EQ(h.workspace->watchedPids, std::vector<int32_t>{getpid()});
    h.workspace->fireTerminated(getpid() + 1);
    EXPECT_TRUE(h->session());
    h.workspace->fireTerminated(getpid());
    EXPECT_FALSE(h->session());

    h->startSession(SessionKind::app(deadPid, "Mail"));
    h.tickAfter(1);
    EXPECT_FALSE(h->session());
    // A replaced session writes no end line.
    EXPECT_EQ(h.logMessages(),
              (Messages{"Started: While tests runs", "Started: While build runs",
                        "Session ended — process 2147483647 finished",
                        "Started: While Safari is running", "Session ended — Safari quit",
                        "Started: While Mail is running", "Session ended — Mail quit"}));
}

TEST(WakeControllerTick, HoldsExpireTogetherAndEndTheListeningWindow) {
    EngineHarness h;
    WakeControllerProbe probe(h.controller());
    probe.setRemoteListeningUntil(h.clock.now() + std::chrono::seconds(90));
    h->hold("a", 60);
    h->hold("b", 60);
    h->hold(WakeController::remoteCheckHold, 90);
    h.tickAfter(60);
    EXPECT_EQ(probe.lastHoldEndedAt(), distantPast) << "the window's hold is still active";
    EXPECT_TRUE(h->remoteListeningUntil());

    h->hold("c", 30); // ends together with the window
    h.power->clearRecords();
    h.tickAfter(30);
    EXPECT_TRUE(h->holds().empty());
    EXPECT_FALSE(h->remoteListeningUntil());
    EXPECT_EQ(probe.lastHoldEndedAt(), h.clock.now());
    EXPECT_EQ(h.power->journal(), Messages{"assert " + systemAssertionType + " off"});

    h.clock.advance(5);
    h->release("nobody"); // an unknown id changes nothing and logs nothing
    EXPECT_EQ(probe.lastHoldEndedAt(), h->now());
    EXPECT_TRUE(h.logLines().empty());
}

TEST(WakeControllerTick, HoldsAloneNeverKeepTheDisplayOn) {
    EngineHarness h;
    h->setKeepDisplayOn(true);
    h->hold("task", 60);
    EXPECT_TRUE(h.power->held(systemAssertionType));
    EXPECT_FALSE(h.power->held(displayAssertionType));
    h->startSession(SessionKind::indefinite());
    EXPECT_TRUE(h.power->held(displayAssertionType));
    h->setKeepDisplayOn(false);
    EXPECT_FALSE(h.power->held(displayAssertionType));
    EXPECT_TRUE(h.power->held(systemAssertionType));
}

TEST(WakeControllerTick, NewHoldsAndSessionsAbandonASleepAttempt) {
    EngineHarness h;
    WakeControllerProbe probe(h.controller());
    auto attempt = std::make_shared<SleepOperation>();
    probe.setSleepOperation(attempt);
    h->hold(WakeController::remoteCheckHold, 180);
    EXPECT_FALSE(attempt->cancelled());
    h->hold("task", 60);
    EXPECT_TRUE(attempt->cancelled());

    attempt = std::make_shared<SleepOperation>();
    probe.setSleepOperation(attempt);
    h->setPendingSleep(PendingSleep{h.clock.now(), std::nullopt, false, "CLI"});
    h->startSession(SessionKind::indefinite());
    EXPECT_TRUE(attempt->cancelled());
    EXPECT_FALSE(h->pendingSleep());
}

TEST(WakeControllerTick, BatteryFloorStopsSessionsAndHolds) {
    const Instant boundary = utc(2026, 3, 1, 18, 0, 15); // battery is read every 15 s
    EngineHarness h;
    h->startSession(SessionKind::indefinite());
    h->hold("task", 600);
    h.power->setBattery({.onBattery = true, .percent = 9});
    h.tickAt(boundary);
    EXPECT_FALSE(h->session());
    EXPECT_TRUE(h->holds().empty());
    EXPECT_FALSE(h.power->held(systemAssertionType));
    EXPECT_EQ(h.logMessages(),
              (Messages{"Started: Indefinitely", "Session ended — battery below 10%",
                        "Battery below 10% — stopped keeping awake"}));

    h->setStopOnLowBattery(false);
    h->hold("task", 600);
    h->setStopOnLowBattery(true); // the floor applies at once
    EXPECT_TRUE(h->holds().empty());
    EXPECT_EQ(h.logMessages().back(), "Battery below 10% — stopped keeping awake");

    // With nothing running the floor has nothing to do.
    const auto lines = h.logLines().size();
    h.tickAt(boundary + std::chrono::seconds(15));
    EXPECT_EQ(h.logLines().size(), lines);

    // An unknown charge counts as full.
    h.power->setBattery({.onBattery = true, .percent = std::nullopt});
    h->startSession(SessionKind::indefinite());
    EXPECT_TRUE(h->session());
}

TEST(WakeControllerTick, DownloadSessionFollowsTheFileSize) {
    EngineHarness h;
    const std::filesystem::path file = h.folder.filePath("big.iso").toStdString();
    appendBytes(file, 10);
    h->startSession(SessionKind::file(file));
    for (int minute = 0; minute < 5; ++minute) {
        h.tickAfter(60);
        appendBytes(file, 1);
    }
    h.tickAfter(60); // sees the last growth
    h.tickAfter(120);
    EXPECT_TRUE(h->session()) << "still for exactly 120 s";
    h.tickAfter(1);
    EXPECT_TRUE(h->session()) << "measured at most every 5 s";
    h.tickAfter(4);
    EXPECT_FALSE(h->session());
    EXPECT_EQ(h.logMessages().back(), "Session ended — big.iso stopped changing");

    h->startSession(SessionKind::file(file));
    h.tickAfter(1);
    std::filesystem::remove(file);
    h.tickAfter(3);
    EXPECT_TRUE(h->session()) << "measured at most every 5 s";
    h.tickAfter(2);
    EXPECT_FALSE(h->session());
    EXPECT_EQ(h.logMessages().back(), "Session ended — big.iso finished or was moved");
}

TEST(WakeControllerTick, DownloadFolderCountsEverythingBeneathIt) {
    EngineHarness h;
    const std::filesystem::path folder = h.folder.filePath("Album").toStdString();
    std::filesystem::create_directories(folder / "disc 1");
    appendBytes(folder / "disc 1" / "01.flac", 100);
    h->startSession(SessionKind::file(folder));
    h.tickAfter(1);
    h.tickAfter(100);
    appendBytes(folder / "disc 1" / ".partial", 5); // hidden files count too
    h.tickAfter(100);                               // sees the growth
    h.tickAfter(100);
    EXPECT_TRUE(h->session());
    h.tickAfter(21);
    EXPECT_FALSE(h->session());
    EXPECT_EQ(h.logMessages().back(), "Session ended — Album stopped changing");
}

} // namespace
