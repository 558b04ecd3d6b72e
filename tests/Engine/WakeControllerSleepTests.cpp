#include "Support/EngineHarness.h"
#include "Support/WakeControllerProbe.h"

#include <gtest/gtest.h>

#include <unistd.h>

class WakeControllerSleep : public ::testing::Test {
protected:
    void request(double inSeconds, bool force = false, std::optional<int32_t> pid = {}) {
        h->setPendingSleep(PendingSleep{addSeconds(h.clock.now(), inSeconds), pid, force, "CLI"});
    }
    bool slept() {
        h.settle();
        return h.power->count("sleepNow") > 0;
    }

    EngineHarness h;
    WakeControllerProbe probe{h.controller()};
};

TEST_F(WakeControllerSleep, ARequestWaitingForAProcessSleepsOnceItIsGoneEvenWithoutTheController) {
    h->start(); // hears process ends
    h.hold("task", 600);
    h.power->sleepNowResult = {1, "refused"};
    request(-3600, true, getpid());
    h.tickAfter(60);
    EXPECT_FALSE(slept()) << "the process has not exited";
    h.workspace->endProcesses(getpid()); // ended, though unreaped it still answers kill(0)
    h.recreate(); // the attempt's completion finds no controller, and is dropped
    EXPECT_TRUE(slept()) << "a forced request ignores holds";
    EXPECT_EQ(h.logMessages().back(), "Going to sleep — requested by CLI") << "no completion ran";
    EXPECT_FALSE(h->lastEvent());
}

TEST_F(WakeControllerSleep, ArmsTheWakeThenGivesTheLidBackThenSleeps) {
    h.readyHelper();
    h->setRemoteWakeEnabled(true);
    h->startSession(SessionKind::indefinite());
    h.settle();
    h.power->journal.clear();
    h->requestSleepFromMenu();
    h.tickAfter(2);
    EXPECT_TRUE(probe.sleeping());
    EXPECT_EQ(h->nextDeadline(), std::nullopt) << "the attempt's outcome is the next event";
    h->requestSleepFromMenu(); // waits while the attempt runs
    h.clock.advance(5);
    h->update();
    EXPECT_EQ(h.privileged->tasks.size(), 1u);

    const auto epoch = std::to_string(epochSeconds(h.clock.now()) + 15 * 60);
    h.settle();
    EXPECT_EQ(h.power->journal, (Words{"assert " + systemAssertionType + " off",
                                       "setWakeAlarm " + epoch, "releaseLid", "sleepNow"}));
    EXPECT_EQ(std::tuple(h->remoteCycleArmed(), h->lidModeActive(), probe.awaitingWake()),
              std::tuple(true, false, true));
}

// Everything a failed sleep cleared comes back whole, even when the state was looked at while
// the attempt ran (the timer, a process end, a command).
TEST_F(WakeControllerSleep, AFailedSuspendGivesBackTheSessionAndWholeHoldsAndSaysWhy) {
    h.readyHelper();
    h->setRemoteWakeEnabled(true);
    h->startSession(SessionKind::indefinite());
    h.hold("task", 600);
    h->hold({.id = "run-1", .until = {}, .label = "make -j8", .pid = getpid(), .display = true},
            365.0 * 24 * 3600);
    const auto before = h->holds();
    h.power->sleepNowResult = {1, "logind refused: Access denied"};
    h->requestSleepFromMenu();
    h.tickAfter(2);
    EXPECT_FALSE(h->session()) << "cleared while the attempt runs";
    h.clock.advance(1);
    h->update();
    h->handle({"status", {}});
    h.settle();
    EXPECT_EQ(h.power->count("sleepNow"), 1);
    EXPECT_EQ(h->session()->kind, SessionKind::indefinite());
    EXPECT_EQ(h->holds(), before);
    EXPECT_TRUE(h.power->held.contains(PowerControl::displayAssertionType)) << "run-1's wish";
    EXPECT_EQ(std::pair(h->remoteCycleArmed(), probe.awaitingWake()), std::pair(false, false));
    EXPECT_FALSE(h->pendingSleep()) << "no endless retry";
    EXPECT_EQ(h.logMessages().back(),
              "⚠️ Could not put the computer to sleep: logind refused: Access denied");
    EXPECT_EQ(h.power->count("cancelWakeAlarm"), 1) << "the armed wake is taken back";
    EXPECT_TRUE(h->lidModeActive()) << "the session takes the lid again";
}

TEST_F(WakeControllerSleep, WakeOrANewHoldCancelsAnAttemptBeforeItSleeps) {
    h.readyHelper();
    h.power->duringOperation = [this](const std::string& name) {
        if (name == "releaseLid")
            h->wake();
    };
    request(0);
    h.tickAfter(1);
    h.settle();
    EXPECT_EQ(h.power->count("sleepNow"), 0);
    EXPECT_TRUE(h.keptAwake());
    EXPECT_EQ(h.power->operations(), (Words{"releaseLid", "takeLid"})) << "the session wants it";
    EXPECT_EQ(h.logMessages().back(), "Sleep cancelled — staying awake");

    h.power->duringOperation = {};
    h->endSession("test");
    h.settle();
    request(0);
    h.tickAfter(1);
    h.hold("task", 60);
    EXPECT_TRUE(probe.sleepOperation()->cancelled());
    EXPECT_FALSE(slept());
}

TEST_F(WakeControllerSleep, SleepCommandAnnouncesAndRecordsItsRequest) {
    const std::string unreachable = ". Remote tools can't reach it until someone wakes it."
                                    " Cancel with `lumenor cancel-sleep`.";
    auto send = [this](std::map<std::string, std::string> options) {
        return h->handle({"sleep", std::move(options)});
    };
    EXPECT_EQ(send({}).message, "😴 The computer will sleep in 20 seconds" + unreachable);
    EXPECT_EQ(h->pendingSleep(),
              (PendingSleep{h.clock.now() + std::chrono::seconds(20), std::nullopt, false, "CLI"}));
    EXPECT_EQ(h.logMessages().back(), "Sleep requested by CLI");
    EXPECT_EQ(h->nextDeadline(), h.clock.now() + std::chrono::seconds(20));

    send({{"now", "YES"}, {"by", "agent"}});
    const auto forced =
        PendingSleep{h.clock.now() + std::chrono::seconds(3), std::nullopt, true, "agent"};
    EXPECT_EQ(h->pendingSleep(), forced);
    EXPECT_EQ(send({{"in", "whenever"}}).message, "Couldn't understand delay “whenever”.");
    EXPECT_EQ(send({{"after_pid", "-1"}}).message, "after_pid takes a process id, not “-1”.");
    EXPECT_EQ(h->pendingSleep(), forced) << "a refused request changes nothing";

    h.hold("task", 600);
    EXPECT_EQ(send({{"in", "  NOW  "}, {"after_pid", std::to_string(getpid())}}).message,
              "😴 The computer will sleep once the current task (pid " + std::to_string(getpid()) +
                  ") has finished and replied" + unreachable);
    EXPECT_EQ(send({{"in", "0s"}, {"after_pid", std::to_string(deadPid)}}).message,
              "😴 The computer will sleep after running tasks finish" + unreachable);

    // The listening window is no task to wait for: only the quiet ten seconds after the
    // released hold delay this one.
    h->release("task");
    h.readyHelper();
    h->setRemoteWakeEnabled(true);
    probe.setRemoteListeningUntil(h.clock.now() + std::chrono::seconds(180));
    EXPECT_EQ(
        send({{"in", "0"}}).message,
        "😴 The computer will sleep in 0 seconds. It will wake every 15 min for about 3 min, so "
        "that remote tools (SSH, a chat bot, an agent) can reach it and keep it awake with "
        "`lumenor wake`. Cancel with `lumenor cancel-sleep`.");
    h.tickAfter(9);
    EXPECT_FALSE(probe.sleeping());
    h.tickAfter(1);
    EXPECT_TRUE(probe.sleeping());
}

// A controller whose last sleep armed a remote wake, lid closed, asleep.
class WakeControllerRemote : public WakeControllerSleep {
protected:
    void SetUp() override {
        h.readyHelper();
        h.power->setLidClosed(true);
        h->setRemoteWakeEnabled(true);
        h->start();
        h.settle();
        sleepArmed();
    }
    void sleepArmed() {
        h->requestSleepFromMenu();
        h.tickAfter(2);
        h.settle();
        ASSERT_TRUE(h->remoteCycleArmed());
        h.power->journal.clear();
        h.clock.advance(15 * 60);
    }
    long cancelWakes() const { return h.power->count("cancelWakeAlarm"); }
};

TEST_F(WakeControllerRemote, WindowThenBackToSleepTenSecondsAfterItEnds) {
    h.workspace->resumedFromSuspend();
    EXPECT_FALSE(probe.awaitingWake());
    EXPECT_EQ(h->remoteListeningUntil(), h.clock.now() + std::chrono::seconds(180));
    EXPECT_EQ(h.logMessages().back(),
              "Remote wake — reachable for 180s (`lumenor wake` keeps it awake)");
    EXPECT_TRUE(h.keptAwake());
    EXPECT_TRUE(h->holds().empty()) << "the window is no hold a caller could release";

    // An agent's hold taken in the window keeps the machine up past it, still armed.
    h.tickAfter(60);
    h.hold("task", 150);
    h.tickAfter(149);
    EXPECT_FALSE(h->remoteListeningUntil());
    h.tickAfter(1); // the task's hold ends now
    h.tickAfter(9);
    EXPECT_FALSE(probe.sleeping());
    h.tickAfter(1);
    EXPECT_TRUE(probe.sleeping());
    EXPECT_EQ(h.logMessages().back(), "Going to sleep — remote check finished");
    h.settle();
    EXPECT_EQ(std::tuple(h->remoteCycleArmed(), h.power->count("sleepNow"), cancelWakes()),
              std::tuple(true, 1L, 0L));

    // Waking it in the next window keeps it up and ends the cycle with its scheduled wake.
    h.workspace->resumedFromSuspend();
    h.settle(); // the lid, given back for the sleep, is free to take again
    EXPECT_EQ(h->handle({"wake", {}}).message,
              "☀️ The computer is awake and will stay awake, even with the lid closed.");
    EXPECT_EQ(h->session()->kind, SessionKind::indefinite());
    EXPECT_FALSE(h->remoteCycleArmed());
    EXPECT_EQ(h.power->count("wakeDisplay"), 1);
    h.settle();
    EXPECT_EQ(cancelWakes(), 1);
}

TEST_F(WakeControllerRemote, AnOpenLidEndsTheCycle) {
    h.power->setLidClosed(false);
    h.workspace->resumedFromSuspend();
    EXPECT_EQ(h.logMessages().back(), "Lid opened — remote checks stopped");
    EXPECT_FALSE(h->remoteCycleArmed());
    h.settle();
    EXPECT_EQ(h.power->operations(), Words{"cancelWakeAlarm"});

    // A lid opened during a window ends the cycle silently, ten seconds after the window.
    h.power->setLidClosed(true);
    sleepArmed();
    h.workspace->resumedFromSuspend();
    h.power->setLidClosed(false);
    h.tickAfter(190);
    EXPECT_EQ(std::pair(h->remoteCycleArmed(), probe.sleeping()), std::pair(false, false));
    EXPECT_EQ(h.logMessages().back(),
              "Remote wake — reachable for 180s (`lumenor wake` keeps it awake)");
}

TEST_F(WakeControllerRemote, TurningTheFeatureOffMidWindowLetsTheMachineSleep) {
    h.workspace->resumedFromSuspend();
    h.settle();
    h->setRemoteWakeEnabled(false);
    EXPECT_EQ(std::pair(h->isAwake(), h.keptAwake()), std::pair(false, false));
    h.settle();
    EXPECT_EQ(cancelWakes(), 1);
    EXPECT_EQ(h.power->operations().back(), "releaseLid");
}
