#include "Support/EngineHarness.h"
#include "Support/WakeControllerProbe.h"

#include <gtest/gtest.h>

#include <fstream>
#include <unistd.h>

void appendBytes(const std::filesystem::path& file, size_t count) {
    std::ofstream(file, std::ios::app | std::ios::binary) << std::string(count, 'x');
}

class WakeControllerDeadlines : public ::testing::Test {
protected:
    EngineHarness h;
    WakeControllerProbe probe{h.controller()};
};

TEST_F(WakeControllerDeadlines, AnIdleControllerWaitsForNothingAndEndsComeOnTimeAndTogether) {
    const Instant end = utc(2026, 3, 1, 20, 0, 0);
    h->startSession(SessionKind::indefinite());
    EXPECT_EQ(h->nextDeadline(), std::nullopt) << "an indefinite session has nothing due";
    h->startSession(SessionKind::until(end));
    EXPECT_EQ(h->nextDeadline(), end);
    h.tickAt(end - std::chrono::milliseconds(1));
    EXPECT_TRUE(h.keptAwake());
    h.tickAt(end);
    EXPECT_EQ(std::pair(h->session().has_value(), h.keptAwake()), std::pair(false, false));
    EXPECT_EQ(h.logMessages().back(), "Session ended — time is up");
    EXPECT_EQ(h->nextDeadline(), std::nullopt);

    // Holds ending together change the power state once and close the listening window.
    probe.setRemoteListeningUntil(h.clock.now() + std::chrono::seconds(90));
    h->setKeepDisplayOn(true);
    h.hold("a", 90);
    h.hold("b", 60);
    EXPECT_FALSE(h.power->held.contains(displayAssertionType)) << "only sessions light it";
    h.tickAfter(60);
    EXPECT_TRUE(h->remoteListeningUntil());

    h.power->journal.clear();
    h.tickAfter(30);
    EXPECT_TRUE(h->holds().empty());
    EXPECT_FALSE(h->remoteListeningUntil());
    EXPECT_EQ(h.power->journal, Words{"assert " + systemAssertionType + " off"});
    const Words log = h.logMessages();
    EXPECT_EQ(Words(log.end() - 2, log.end()), (Words{"Hold expired: b", "Hold expired: a"}));
}

TEST_F(WakeControllerDeadlines, ProcessesAreWatchedWhileTheyMatterAndTheirEndIsAnEvent) {
    h->start();
    h->startSession(SessionKind::app(getpid(), "Safari"));
    h.hold("run-1", 3600, getpid() + 1);
    probe.syncWaits();
    EXPECT_EQ(h.workspace->watchedPids, (std::set<int32_t>{getpid(), getpid() + 1}));
    h.workspace->endProcesses(getpid() + 1);
    EXPECT_TRUE(h->session());
    h.workspace->endProcesses(getpid());

    h->startSession(SessionKind::process(getpid(), "tests"));
    h->startSession(SessionKind::process(deadPid, "build"));
    h.tickAfter(1);
    probe.syncWaits();
    EXPECT_TRUE(h.workspace->watchedPids.empty()) << "nothing left to wait for";
    // A replaced session writes no end line.
    EXPECT_EQ(h.logMessages(),
              (Words{"Started: While Safari is running", "Keeping awake with logind",
                     "Hold taken: run-1 while process " + std::to_string(getpid() + 1) + " runs",
                     "Hold ended — process " + std::to_string(getpid() + 1) + " finished: run-1",
                     "Session ended — Safari quit", "Started: While tests runs",
                     "Started: While build runs", "Session ended — process 2147483647 finished"}));
}

TEST_F(WakeControllerDeadlines, TheBatteryIsWatchedOnlyWhileTheFloorMattersAndStopsWhatRuns) {
    h->startSession(SessionKind::indefinite());
    probe.syncWaits();
    EXPECT_FALSE(h.workspace->batteryWatched) << "no battery here: nothing to watch";
    h->endSession("test");
    h.power->setBattery({.onBattery = false, .percent = 80});
    h->refreshBattery();
    probe.syncWaits();
    EXPECT_FALSE(h.workspace->batteryWatched) << "nothing kept awake: the battery is no concern";
    h->startSession(SessionKind::indefinite());
    h.hold("task", 600);
    probe.syncWaits();
    EXPECT_TRUE(h.workspace->batteryWatched);
    h.power->setBattery({.onBattery = true, .percent = 9});
    h->start();
    h.workspace->batteryChanged();
    EXPECT_FALSE(h->session());
    EXPECT_TRUE(h->holds().empty());
    EXPECT_FALSE(h.keptAwake());
    probe.syncWaits();
    EXPECT_FALSE(h.workspace->batteryWatched);
    const Words log = h.logMessages();
    EXPECT_EQ(
        Words(log.end() - 2, log.end()),
        (Words{"Session ended — battery below 10%", "Battery below 10% — stopped keeping awake"}));

    // Holds alone: the same line, and the floor applies as soon as it is switched on.
    h->setStopOnLowBattery(false);
    h.hold("task", 600);
    h->setStopOnLowBattery(true);
    EXPECT_TRUE(h->holds().empty());
    EXPECT_EQ(h->lastEvent()->kind, LogEvent::Kind::battery);
    EXPECT_EQ(h.logMessages().size(), log.size() + 2);
}

TEST_F(WakeControllerDeadlines, ARefusedInhibitorIsRetriedWithBackoffAndAtOnceWhenAServiceAppears) {
    h->start();
    h.power->refusedAssertions = {systemAssertionType};
    h->startSession(SessionKind::indefinite());
    const Instant start = h.clock.now();
    std::vector<double> retries;
    for (int i = 0; i < 8; ++i) {
        const auto next = h->nextDeadline();
        ASSERT_TRUE(next);
        retries.push_back(std::chrono::duration<double>(*next - h.clock.now()).count());
        h.tickAt(*next);
    }
    EXPECT_EQ(retries, (std::vector<double>{1, 2, 4, 8, 16, 32, 60, 60}));
    h->handle({"status", {}});
    EXPECT_TRUE(h->nextDeadline()) << "a command that asks for nothing keeps the retry";
    EXPECT_EQ(h.clock.now() - start, std::chrono::seconds(183));

    h.power->refusedAssertions.clear();
    h.workspace->powerServiceAppeared();
    EXPECT_TRUE(h.keptAwake()) << "taken at once";
    EXPECT_EQ(h->snapshot().problem, std::nullopt);
    EXPECT_EQ(h.logMessages().back(), "Keeping awake with logind");
    EXPECT_EQ(h->nextDeadline(), std::nullopt);
}

TEST_F(WakeControllerDeadlines, DownloadSessionEndsWhenTheFileStopsGrowingOrGoesInBoundedWalks) {
    // Each update that measures hands the walk to the worker; its result comes back to the main
    // thread.
    const auto measured = [&] {
        h.background->runAll();
        h.mainThread->runAll();
    };
    const auto tickAfter = [&](double seconds) {
        h.tickAfter(seconds);
        measured();
    };
    const std::filesystem::path file = h.folder.filePath("big.iso").toStdString();
    appendBytes(file, 10);
    h->startSession(SessionKind::file(file));
    for (int minute = 0; minute < 3; ++minute) {
        tickAfter(60);
        appendBytes(file, 1);
    }
    tickAfter(60); // sees the last growth
    tickAfter(120);
    EXPECT_TRUE(h->session()) << "still for exactly 120 s";
    tickAfter(1);
    EXPECT_TRUE(h->session()) << "measured at most every 5 s";
    tickAfter(4);
    EXPECT_FALSE(h->session());
    EXPECT_EQ(h.logMessages().back(), "Session ended — big.iso stopped changing");

    h->startSession(SessionKind::file(file));
    tickAfter(1);
    std::filesystem::remove(file);
    h.tickAfter(5);
    EXPECT_TRUE(h->session()) << "the main thread itself never measures";
    h.tickAfter(5);
    EXPECT_EQ(h.background->tasks.size(), 1u) << "one measurement at a time";
    measured();
    EXPECT_FALSE(h->session());
    EXPECT_EQ(h.logMessages().back(), "Session ended — big.iso finished or was moved");

    // A result for a session that has ended since is dropped.
    h->startSession(SessionKind::file(file));
    h.tickAfter(5);
    h->startSession(SessionKind::indefinite());
    EXPECT_EQ(h.background->runAll(), 1u);
    h.mainThread->runAll();
    EXPECT_TRUE(h->session());

    // The measurement is bounded and skips links.
    using DownloadWatcher::measure;
    using DownloadWatcher::Measurement;
    using Outcome = Measurement::Outcome;
    const std::filesystem::path folder = h.folder.filePath("Downloads").toStdString();
    std::filesystem::create_directories(folder / "inner");
    appendBytes(folder / "a.part", 7);
    appendBytes(folder / "inner" / ".partial", 5); // hidden files count too
    std::filesystem::create_symlink(folder / "a.part", folder / "link");
    EXPECT_EQ(measure(folder / "a.part"), (Measurement{Outcome::measured, 7}));
    EXPECT_EQ(measure(folder), (Measurement{Outcome::measured, 12}));
    EXPECT_EQ(measure(folder, {.entries = 4}), (Measurement{Outcome::measured, 12}));
    // Where a bounded walk stops depends on the order of the entries: only the outcome is sure.
    EXPECT_EQ(measure(folder, {.entries = 3}).outcome, Outcome::tooLarge);
    EXPECT_EQ(measure(folder / "gone"), (Measurement{Outcome::missing, 0}));
}
