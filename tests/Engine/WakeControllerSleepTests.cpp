#include "Lumenor/Engine/InstantMath.h"
#include "Support/EngineHarness.h"
#include "Support/WakeControllerProbe.h"

#include "LumenorCore/PrivilegedInstall.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <unistd.h>

namespace {

using PowerControl::systemAssertionType;
using Words = std::vector<std::string>;

constexpr int32_t deadPid = std::numeric_limits<int32_t>::max();

class WakeControllerSleep : public ::testing::Test {
protected:
    void readyHelper() {
        h.power->setHelperInstalled(true);
        h.power->setHelperWorks(true);
        h->refreshHelper();
        h.settle();
        h.power->clearRecords();
    }
    void request(double inSeconds, bool force = false, std::optional<int32_t> pid = {}) {
        h->setPendingSleep(PendingSleep{addSeconds(h.clock.now(), inSeconds), pid, force, "CLI"});
    }
    bool slept() {
        h.settle();
        return h.power->sleepNowCalls() > 0;
    }

    EngineHarness h;
    WakeControllerProbe probe{h.controller()};
};

TEST_F(WakeControllerSleep, DueRequestWaitsForHoldsAndThePid) {
    h->hold("task", 60);
    request(0);
    h.tickAfter(30);
    EXPECT_FALSE(slept());
    h.tickAfter(30); // the task's hold ends; ten quiet seconds follow
    h.tickAfter(9);
    EXPECT_FALSE(slept());
    h.tickAfter(1);
    EXPECT_TRUE(slept());
    EXPECT_EQ(h.logMessages().back(), "Going to sleep — requested by CLI");
    EXPECT_TRUE(h->holds().empty());
    EXPECT_FALSE(h.power->held(systemAssertionType));

    h.power->clearRecords();
    h->hold("task", 600);
    request(0, true);
    h.tickAfter(1);
    EXPECT_TRUE(slept()) << "a forced request ignores holds";

    h.power->clearRecords();
    request(-3600, true, getpid());
    for (int i = 0; i < 5; ++i) {
        h.tickAfter(60);
    }
    EXPECT_FALSE(slept()) << "a process that never exits never lets it sleep";
    EXPECT_TRUE(h->pendingSleep());
    request(0, true, deadPid);
    h.tickAfter(1);
    EXPECT_TRUE(slept());
}

TEST_F(WakeControllerSleep, ArmsTheWakeThenLeavesLidModeThenSleeps) {
    readyHelper();
    h->setRemoteWakeEnabled(true);
    h->setRemoteWakeInterval(15);
    h->startSession(SessionKind::indefinite());
    h.settle();
    ASSERT_TRUE(h->lidModeActive());
    h.power->clearRecords();
    h->requestSleepFromMenu();
    EXPECT_EQ(h->pendingSleep()->notBefore, h.clock.now() + std::chrono::seconds(2));
    h.tickAfter(2);
    EXPECT_FALSE(h->session());
    EXPECT_TRUE(probe.sleeping());

    // A second request while the attempt runs waits; nothing else happens.
    h->requestSleepFromMenu();
    h.tickAfter(5);
    EXPECT_EQ(h.privileged->pending(), 1u);

    const auto epoch = std::to_string(epochSeconds(h.clock.now()) + 15 * 60);
    h.settle();
    auto journal = h.power->journal();
    std::erase_if(journal, [](const std::string& entry) { return entry.rfind("assert", 0) == 0; });
    EXPECT_EQ(
        journal,
        (Words{"run /usr/bin/sudo -n " + PrivilegedInstall::helperPath + " schedule-wake " + epoch,
               "run /usr/bin/sudo -n " + PrivilegedInstall::helperPath + " lid-off", "sleepNow"}));
    EXPECT_TRUE(h->remoteCycleArmed());
    EXPECT_FALSE(h->lidModeActive());
    EXPECT_FALSE(probe.sleeping());
    EXPECT_TRUE(probe.awaitingWake());
    EXPECT_EQ(std::ranges::count(h.logMessages(), "Going to sleep — requested by menu"), 1);
}

TEST_F(WakeControllerSleep, FailuresKeepTheMachineAwakeAndCancelTheWake) {
    readyHelper();
    h->setRemoteWakeEnabled(true);
    h.power->queueHelperResult("lid-off", {1, "sudo: a password is required"});
    request(0);
    h.tickAfter(1);
    h.privileged->runAll();
    h.mainThread->runAll();
    EXPECT_EQ(h.power->sleepNowCalls(), 0);
    EXPECT_TRUE(h->lidModeActive()) << "the helper still owns the sleep setting";
    EXPECT_FALSE(h->remoteCycleArmed());
    EXPECT_FALSE(probe.awaitingWake());
    EXPECT_EQ(h.logMessages().back(), "⚠️ Could not put the Mac to sleep");
    h.settle(); // the wake is cancelled and lid-off tried again
    EXPECT_EQ(h.power->helperCalls(),
              (Words{"schedule-wake " + std::to_string(epochSeconds(h.clock.now()) + 15 * 60),
                     "lid-off", "cancel-wake", "lid-off"}));
    EXPECT_FALSE(h->lidModeActive());

    // A scheduling that times out lets the sleep go ahead without a wake.
    h.power->clearRecords();
    h.power->queueHelperResult("schedule-wake", {-2, "timed out"});
    h.power->setHelperInstalled(false);
    request(0);
    h.tickAfter(1);
    EXPECT_TRUE(slept());
    EXPECT_FALSE(h->remoteCycleArmed());
    EXPECT_EQ(h.power->helperCalls().size(), 1u) << "no lid-off without a helper";
}

TEST_F(WakeControllerSleep, WakeOrANewHoldCancelsAnAttemptBeforeItSleeps) {
    readyHelper();
    h.power->setRunScript([this](const FakePowerPlatform::RunCall& call) {
        if (call.arguments.back() == "lid-off") {
            h->hold(WakeController::remoteCheckHold, 180); // does not cancel
            h->wake();                                     // arrives while lid-off runs
        }
        return std::optional<PowerControl::RunResult>();
    });
    request(0);
    h.tickAfter(1);
    h.settle();
    EXPECT_EQ(h.power->sleepNowCalls(), 0);
    EXPECT_EQ(h->session()->kind, SessionKind::indefinite());
    EXPECT_TRUE(h.power->held(systemAssertionType));
    EXPECT_EQ(h.power->wakeDisplayCalls(), 1);
    EXPECT_EQ(h.power->helperCalls(), (Words{"lid-off", "lid-on"})) << "the session wants it";
    EXPECT_TRUE(h->lidModeActive());
    const auto messages = h.logMessages();
    EXPECT_EQ(
        Words(messages.end() - 3, messages.end()),
        (Words{"Started: Indefinitely", "Woken remotely", "Sleep cancelled — staying awake"}));

    h.power->setRunScript({});
    h->endSession("test");
    h.settle();
    request(0);
    h.tickAfter(11);
    h->hold(WakeController::remoteCheckHold, 180);
    EXPECT_FALSE(probe.sleepOperation()->cancelled());
    h->hold("task", 60);
    EXPECT_TRUE(probe.sleepOperation()->cancelled());
    EXPECT_FALSE(slept());
    EXPECT_EQ(h.logMessages().back(), "Sleep cancelled — staying awake");
    EXPECT_TRUE(h.power->held(systemAssertionType));
}

TEST_F(WakeControllerSleep, ResultsForAGoneControllerAreDroppedAndRestDimsLater) {
    h.power->setSleepNowResult({1, "refused"});
    request(0);
    h.tickAfter(1);
    h.recreate(); // the attempt's completion finds no controller
    h.settle();
    EXPECT_EQ(h.power->sleepNowCalls(), 1);
    EXPECT_EQ(h.logMessages().back(), "Going to sleep — requested by CLI") << "no completion ran";
    EXPECT_FALSE(h->lastEvent());

    EXPECT_EQ(h->handle({"rest", {}}).message, "🖥️ Display off — the Mac stays awake and "
                                               "reachable. ⚠️ Lid-closed mode isn't set "
                                               "up yet: run `lumenor setup` once.");
    EXPECT_EQ(h->session()->kind, SessionKind::indefinite());
    EXPECT_EQ(h.logMessages().back(), "Resting — display off, still reachable");
    EXPECT_EQ(h.power->displaySleepNowCalls(), 0);
    EXPECT_EQ(h.mainThread->delays(), std::vector<double>{0.5});
    h.mainThread->runDelayed();
    EXPECT_EQ(h.power->displaySleepNowCalls(), 1);
}

TEST_F(WakeControllerSleep, SleepCommandAnnouncesAndRecordsItsRequest) {
    const std::string unreachable = ". It can't be reached from Telegram until someone wakes it."
                                    " Cancel with `lumenor cancel-sleep`.";
    auto send = [this](std::map<std::string, std::string> options) {
        return h->handle({"sleep", std::move(options)});
    };
    auto response = send({});
    EXPECT_EQ(response.message, "😴 The Mac will sleep in 20 seconds" + unreachable);
    EXPECT_EQ(h->pendingSleep(),
              (PendingSleep{h.clock.now() + std::chrono::seconds(20), std::nullopt, false, "CLI"}));
    EXPECT_EQ(h.logMessages().back(), "Sleep requested by CLI");

    send({{"now", "YES"}, {"after_pid", "12ab"}, {"by", "agent"}});
    EXPECT_EQ(h->pendingSleep(),
              (PendingSleep{h.clock.now() + std::chrono::seconds(3), std::nullopt, true, "agent"}));

    const auto earlier = h->pendingSleep();
    response = send({{"in", "whenever"}});
    EXPECT_FALSE(response.ok);
    EXPECT_EQ(response.message, "Couldn't understand delay “whenever”.");
    EXPECT_EQ(h->pendingSleep(), earlier);

    h->hold("task", 600);
    response = send({{"in", "  NOW  "}, {"after_pid", std::to_string(getpid())}});
    EXPECT_EQ(response.message, "😴 The Mac will sleep once the current Copilot task (pid " +
                                    std::to_string(getpid()) + ") has finished and replied" +
                                    unreachable);
    response = send({{"in", "0s"}, {"after_pid", std::to_string(deadPid)}});
    EXPECT_EQ(response.message, "😴 The Mac will sleep after running tasks finish" + unreachable);
    EXPECT_EQ(h->pendingSleep()->waitForPid, deadPid);

    EXPECT_EQ(h->handle({"cancel-sleep", {}}).message, "Sleep cancelled.");
    EXPECT_EQ(h->handle({"cancel-sleep", {}}).message, "No sleep was pending.");
    EXPECT_EQ(h.logMessages().back(), "Sleep cancelled");

    // The listening window is no task to wait for: only the quiet ten seconds after the
    // released hold delay this one.
    h->release("task");
    readyHelper();
    h->setRemoteWakeEnabled(true);
    h->hold(WakeController::remoteCheckHold, 180);
    response = send({{"in", "0"}});
    EXPECT_EQ(response.message, "😴 The Mac will sleep in 0 seconds. It will wake every 15 min "
                                "for ~3 min to check Telegram (send /wake). Cancel with `lumenor "
                                "cancel-sleep`.");
    h.tickAfter(9);
    EXPECT_FALSE(probe.sleeping());
    h.tickAfter(1);
    EXPECT_TRUE(probe.sleeping());
}

} // namespace
