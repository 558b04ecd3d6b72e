#include "LumenorCore/LumenorStatus.h"

#include <gtest/gtest.h>

#include <chrono>

using namespace std::chrono;

namespace {

const Instant six = sys_days{2026y / 12 / 5} + 18h;
const std::string normal = "🌙 Normal — the computer follows its usual sleep settings";

} // namespace

TEST(LumenorStatusTests, StateLineChoosesSessionThenHoldThenNormal) {
    LumenorStatus status{};
    status.awake = status.onBattery = true;
    status.holdUntil = six + 30min;
    status.batteryPercent = 82;
    EXPECT_EQ(status.summary(six),
              "☀️ Awake — held for a task (30m 00s left)\n🔋 Battery 82%");
    status.sessionDescription = "Until 19:05";
    status.sessionEndsAt = six + 1h + 5min;
    EXPECT_EQ(status.summary(six), "☀️ Awake — Until 19:05 (1h 05m left)\n🔋 Battery 82%");

    status = LumenorStatus{};
    // Without `awake` (nothing holds the machine) neither a session nor a hold is awake.
    status.sessionDescription = "Indefinitely";
    status.holdUntil = six + 1h;
    status.problem = "Couldn't keep the computer awake: no login manager.";
    EXPECT_EQ(status.summary(six), normal + "\n⚠️ " + *status.problem);
    status.problem.reset();
    status.awake = true;
    EXPECT_EQ(status.summary(six), "☀️ Awake — Indefinitely");
}

TEST(LumenorStatusTests, OptionalLinesComeInOrder) {
    LumenorStatus status{};
    status.lidClosedMode = status.remoteWakeEnabled = true;
    status.pendingSleepWaitingForPid = 4242;
    status.remoteWakeIntervalMinutes = 30;
    status.batteryPercent = 100;
    EXPECT_EQ(status.summary(six),
              normal + "\n⚠️ Lid-closed mode needs one-time setup: run `lumenor setup`"
                       "\n😴 Will sleep after process 4242 finishes"
                       "\n📡 Remote wake checks every 30 min while asleep"
                       "\n🔌 Power adapter (100%)");

    // Active mode wins over the setup hint; a time wins over a pid.
    status.lidClosedModeActive = true;
    status.pendingSleepAt = six + 38s;
    status.remoteWakeEnabled = false;
    status.batteryPercent.reset();
    EXPECT_EQ(status.summary(six), normal + "\n💻 Lid-closed mode ON — stays awake with the lid shut"
                                            "\n😴 Sleeping in 38s");
    status.lidClosedModeActive = false;
    status.lidClosedModeAvailable = true;
    EXPECT_EQ(status.summary(six), normal + "\n😴 Sleeping in 38s");

    // An app that tells lid and wake apart says which one is missing, and who has the lid.
    status.pendingSleepAt.reset();
    status.pendingSleepWaitingForPid.reset();
    status.remoteWakeEnabled = true;
    status.wakeHelperReady = false;
    status.lidClosedModeAvailable = false;
    EXPECT_EQ(status.summary(six),
              normal + "\n⚠️ Lid-closed mode is unavailable: the system won't let Lumenor hold "
                       "the lid\n⚠️ Remote wake needs one-time setup: run `lumenor setup`");
    status.lidClosedModeActive = true;
    status.lidHandledBy = "Power Manager";
    status.wakeHelperReady = true;
    EXPECT_EQ(status.summary(six),
              normal +
                  "\n⚠️ Power Manager handles the lid itself — its own lid setting decides "
                  "what closing the lid does\n📡 Remote wake checks every 30 min while asleep");
}

TEST(LumenorStatusTests, HoldsAreNamedAndOtherInhibitorsListed) {
    LumenorStatus status{};
    status.awake = true;
    const auto firstLine = [&] {
        return status.summary(six).substr(0, status.summary(six).find('\n'));
    };
    status.holds = std::vector<LumenorHold>{{"task-7", "", six + 30min}, {"gone", "", six}};
    EXPECT_EQ(firstLine(), "☀️ Awake — held for task-7 (30m 00s left)");
    status.holds->push_back({"run-311", "make -j8", six + 8760h, 311});
    EXPECT_EQ(firstLine(), "☀️ Awake — held for 2 tasks (30m 00s left)");
    status.holds->erase(status.holds->begin());
    EXPECT_EQ(firstLine(), "☀️ Awake — held for make -j8 (while pid 311 runs)");

    status.otherInhibitors = std::vector<LumenorInhibitor>{
        {"GNOME Shell", "lid", "handle-lid-switch", "block", 9, 0, ""},
        {"backup", "copying", "sleep", "delay", 12, 0, ""}};
    EXPECT_TRUE(status.summary(six).ends_with(
        "\n🔒 Other programs' inhibitors: GNOME Shell (block handle-lid-switch: lid); "
        "backup (delay sleep: copying)"))
        << status.summary(six);
}
