#include "Lumenor/Engine/InstantMath.h"
#include "Support/EngineHarness.h"
#include "Support/WakeControllerProbe.h"

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

using PowerControl::systemAssertionType;

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

TEST_F(WakeControllerSleep, ARequestWaitingForAProcessSleepsOnceItIsGone) {
    h.hold("task", 600);
    request(-3600, true, getpid());
    h.tickAfter(60);
    EXPECT_FALSE(slept()) << "the process has not exited";
    request(0, true, deadPid);
    h.tickAfter(1);
    EXPECT_TRUE(slept()) << "a forced request ignores holds";
}

TEST_F(WakeControllerSleep, ArmsTheWakeThenGivesTheLidBackThenSleeps) {
    h.readyHelper();
    h->setRemoteWakeEnabled(true);
    h->startSession(SessionKind::indefinite());
    h.settle();
    ASSERT_TRUE(h->lidModeActive());
    h.power->clearRecords();
    h->requestSleepFromMenu();
    h.tickAfter(2);
    EXPECT_FALSE(h->session());
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
    EXPECT_TRUE(h->remoteCycleArmed());
    EXPECT_FALSE(h->lidModeActive());
    EXPECT_TRUE(probe.awaitingWake());
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
    EXPECT_FALSE(h->remoteCycleArmed());
    EXPECT_FALSE(probe.awaitingWake());
    EXPECT_FALSE(h->pendingSleep()) << "no endless retry";
    EXPECT_EQ(h.logMessages().back(),
              "⚠️ Could not put the computer to sleep: logind refused: Access denied");
    EXPECT_EQ(h.power->count("cancelWakeAlarm"), 1) << "the armed wake is taken back";
    EXPECT_TRUE(h->lidModeActive()) << "the session takes the lid again";
}

TEST_F(WakeControllerSleep, WakeOrANewHoldCancelsAnAttemptBeforeItSleeps) {
    h.readyHelper();
    h.power->clearRecords();
    h.power->duringOperation = [this](const std::string& name) {
        if (name == "releaseLid") {
            h->wake();
        }
    };
    request(0);
    h.tickAfter(1);
    h.settle();
    EXPECT_EQ(h.power->count("sleepNow"), 0);
    EXPECT_EQ(h->session()->kind, SessionKind::indefinite());
    EXPECT_TRUE(h.power->held.contains(systemAssertionType));
    EXPECT_EQ(h.power->count("wakeDisplay"), 1);
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

TEST_F(WakeControllerSleep, ResultsForAGoneControllerAreDropped) {
    h.power->sleepNowResult = {1, "refused"};
    request(0);
    h.tickAfter(1);
    h.recreate(); // the attempt's completion finds no controller
    h.settle();
    EXPECT_EQ(h.power->count("sleepNow"), 1);
    EXPECT_EQ(h.logMessages().back(), "Going to sleep — requested by CLI") << "no completion ran";
    EXPECT_FALSE(h->lastEvent());
}

TEST_F(WakeControllerSleep, SleepCommandAnnouncesAndRecordsItsRequest) {
    const std::string unreachable = ". It can't be reached from Telegram until someone wakes it."
                                    " Cancel with `lumenor cancel-sleep`.";
    auto send = [this](std::map<std::string, std::string> options) {
        return h->handle({"sleep", std::move(options)});
    };
    EXPECT_EQ(send({}).message, "😴 The computer will sleep in 20 seconds" + unreachable);
    EXPECT_EQ(h->pendingSleep(),
              (PendingSleep{h.clock.now() + std::chrono::seconds(20), std::nullopt, false, "CLI"}));
    EXPECT_EQ(h.logMessages().back(), "Sleep requested by CLI");
    EXPECT_EQ(h->nextDeadline(), h.clock.now() + std::chrono::seconds(20));

    send({{"now", "YES"}, {"after_pid", "12ab"}, {"by", "agent"}});
    const auto forced =
        PendingSleep{h.clock.now() + std::chrono::seconds(3), std::nullopt, true, "agent"};
    EXPECT_EQ(h->pendingSleep(), forced);
    const auto rejected = send({{"in", "whenever"}});
    EXPECT_FALSE(rejected.ok);
    EXPECT_EQ(rejected.message, "Couldn't understand delay “whenever”.");
    EXPECT_EQ(h->pendingSleep(), forced);

    h.hold("task", 600);
    EXPECT_EQ(send({{"in", "  NOW  "}, {"after_pid", std::to_string(getpid())}}).message,
              "😴 The computer will sleep once the current task (pid " + std::to_string(getpid()) +
                  ") has finished and replied" + unreachable);
    EXPECT_EQ(send({{"after_pid", std::to_string(getpid())}, {"by", "Claude Code"}}).message,
              "😴 The computer will sleep once the current Claude Code task (pid " +
                  std::to_string(getpid()) + ") has finished and replied" + unreachable);
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
        "😴 The computer will sleep in 0 seconds. It will wake every 15 min for ~3 min to check "
        "Telegram (send /wake). Cancel with `lumenor cancel-sleep`.");
    h.tickAfter(9);
    EXPECT_FALSE(probe.sleeping());
    h.tickAfter(1);
    EXPECT_TRUE(probe.sleeping());
}

} // namespace
