// The generated helper run for real by /bin/sh in a sandbox with stand-in macOS tools.
#include "LumenorCore/PrivilegedInstall.h"
#include "ShellSandbox.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace {

using PrivilegedInstall::guardLabel;
using PrivilegedInstall::helperPath;

const std::string usageLine = "usage: " + helperPath +
                              " lid-on|renew|lid-off|schedule-wake "
                              "<epoch>|cancel-wake|guard|status|begin-maintenance\n";

class PrivilegedInstallHelper : public ::testing::Test {
protected:
    void SetUp() override {
        box.installScriptFile(helperPath, PrivilegedInstall::helperScript(10));
    }

    ShellResult helper(const std::vector<std::string>& args) {
        return box.runFile(helperPath, args);
    }
    static std::string file(std::string_view name) {
        return PrivilegedInstall::stateDirectory + "/" + std::string(name);
    }
    bool has(std::string_view name) const { return box.exists(file(name)); }
    std::optional<std::string> state(std::string_view name) const { return box.read(file(name)); }
    void remove(std::string_view name) { std::filesystem::remove(box.at(file(name))); }
    std::string at(long long offset) const { return std::to_string(box.now() + offset); }

    ShellSandbox box;
};

TEST_F(PrivilegedInstallHelper, LidOnKeepsTheFirstBaselineAndLidOffRestoresIt) {
    for (const std::string before : {"0", "1"}) {
        box.setSleepDisabled(before);
        ASSERT_EQ(helper({"lid-on"}).status, 0);
        box.setNow(box.now() + 30);
        const auto again = helper({"lid-on"});
        EXPECT_EQ(again.status, 0) << again.err;
        EXPECT_EQ(state("baseline"), before + "\n");
        EXPECT_EQ(state("lease"), at(120) + "\n");
        EXPECT_TRUE(has("owned"));
        EXPECT_EQ(box.sleepDisabled(), "1");
        EXPECT_EQ(box.mode(file("lease")), 0600u);

        EXPECT_EQ(helper({"lid-off"}).status, 0);
        EXPECT_EQ(box.sleepDisabled(), before);
        EXPECT_FALSE(has("owned") || has("baseline") || has("lease"));
    }
    EXPECT_EQ(box.mode(PrivilegedInstall::stateDirectory), 0700u);

    box.clearCalls();
    EXPECT_EQ(helper({"lid-off"}).status, 0);
    EXPECT_TRUE(box.calls("pmset").empty());
}

TEST_F(PrivilegedInstallHelper, RunsOnceUnderTheLockAndPrintsUsageWithoutArguments) {
    const auto result = helper({});
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.err, usageLine);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(box.calls("lockf"),
              std::vector<std::string>{"lockf -k -t 60 " + file("lock") + " " + helperPath});
    const auto env = box.lockfEnvironment();
    EXPECT_NE(std::find(env.begin(), env.end(), "LUMENOR_LOCKED=1"), env.end());

    box.clearCalls();
    EXPECT_EQ(box.runFile(helperPath, {"bogus"}, {"LUMENOR_LOCKED=1"}).status, 2);
    EXPECT_TRUE(box.calls("lockf").empty());
}

TEST_F(PrivilegedInstallHelper, LidOnIsRefusedDuringMaintenanceAndBelowTheBatteryFloor) {
    box.write(file("maintenance"), "");
    auto result = helper({"lid-on"});
    EXPECT_EQ(result.status, 3);
    EXPECT_EQ(result.err, "maintenance in progress\n");
    EXPECT_TRUE(box.calls("pmset -a").empty());
    EXPECT_FALSE(has("owned") || has("baseline") || has("lease"));
    remove("maintenance");

    // The percent is the first number followed by "%", not the battery's index or id.
    box.setBattery(true, 9);
    result = helper({"lid-on"});
    EXPECT_EQ(result.status, 3);
    EXPECT_EQ(result.err, "battery below 10%\n");
    EXPECT_FALSE(has("owned"));

    box.setBattery(false, 5);
    EXPECT_EQ(helper({"lid-on"}).status, 0);
    box.setBattery(true, std::nullopt);
    EXPECT_EQ(helper({"lid-on"}).status, 0);
    box.setBattery(true, 10);
    EXPECT_EQ(helper({"lid-on"}).status, 0);
    EXPECT_EQ(box.sleepDisabled(), "1");
}

TEST_F(PrivilegedInstallHelper, RestoresZeroFromAMissingOrGarbledBaselineAndKeepsFailedRestores) {
    for (const char* baseline : std::initializer_list<const char*>{"garbage\n", nullptr}) {
        box.setSleepDisabled("1");
        ASSERT_EQ(helper({"lid-on"}).status, 0);
        baseline ? box.write(file("baseline"), baseline) : remove("baseline");
        EXPECT_EQ(helper({"lid-off"}).status, 0);
        EXPECT_EQ(box.sleepDisabled(), "0");
    }

    // A restore that fails, or that does not stick, keeps ownership so that it is retried.
    ASSERT_EQ(helper({"lid-on"}).status, 0);
    box.failCalls("pmset -a disablesleep 0");
    EXPECT_EQ(helper({"lid-off"}).status, 1);
    box.clearFailures();
    box.ignoreCalls("pmset -a disablesleep 0");
    EXPECT_EQ(helper({"lid-off"}).status, 1);
    EXPECT_TRUE(has("owned") && has("baseline") && has("lease"));
    box.clearFailures();
    EXPECT_EQ(helper({"lid-off"}).status, 0);
    EXPECT_EQ(box.sleepDisabled(), "0");
}

TEST_F(PrivilegedInstallHelper, GuardRestoresOnlyAnExpiredOrImplausibleLease) {
    EXPECT_EQ(helper({"guard"}).status, 0);
    EXPECT_TRUE(box.calls("pmset").empty());
    EXPECT_TRUE(box.calls("logger").empty());
    EXPECT_EQ(helper({"renew"}).status, 1);

    ASSERT_EQ(helper({"lid-on"}).status, 0);
    for (const auto& lease : {at(0), at(180)}) {
        box.write(file("lease"), lease + "\n");
        EXPECT_EQ(helper({"guard"}).status, 0);
        EXPECT_TRUE(has("owned")) << lease;
    }
    EXPECT_TRUE(box.systemLog().empty());
    box.setNow(box.now() + 100);
    EXPECT_EQ(helper({"renew"}).status, 0);
    EXPECT_EQ(state("lease"), at(120) + "\n");

    // An 11-digit lease counts as expired even when its value would be in range.
    for (const auto& lease : {at(181), at(-1), "0" + at(60), std::string()}) {
        ASSERT_EQ(helper({"lid-on"}).status, 0);
        box.write(file("lease"), lease + "\n");
        EXPECT_EQ(helper({"guard"}).status, 0);
        EXPECT_FALSE(has("owned")) << lease;
        EXPECT_EQ(box.sleepDisabled(), "0");
        EXPECT_EQ(box.systemLog().back(), "lumenor: lease expired; turning lid-closed mode off");
    }
    EXPECT_EQ(helper({"renew"}).status, 1);

    ASSERT_EQ(helper({"lid-on"}).status, 0);
    box.setBattery(true, 9);
    EXPECT_EQ(helper({"guard"}).status, 0);
    EXPECT_FALSE(has("owned"));
    EXPECT_EQ(box.systemLog().back(), "lumenor: battery below 10%; turning lid-closed mode off");
}

TEST_F(PrivilegedInstallHelper, ScheduleWakeValidatesItsTimestampAndTracksOneEvent) {
    for (const auto& bad : {std::string(), std::string("12a"), std::string("-5"), at(60) + ".0"}) {
        const auto result = helper({"schedule-wake", bad});
        EXPECT_EQ(result.status, 2) << bad;
        EXPECT_EQ(result.err, "schedule-wake: bad timestamp\n") << bad;
    }
    EXPECT_EQ(helper({"schedule-wake"}).status, 2);
    for (const auto& far : {std::string("17000000600"), at(59), at(86401)}) {
        const auto result = helper({"schedule-wake", far});
        EXPECT_EQ(result.status, 2) << far;
        EXPECT_EQ(result.err, "schedule-wake: timestamp out of range\n") << far;
    }
    EXPECT_TRUE(box.calls("pmset").empty());

    // The sandbox's clock reads 11/14/23 22:13:20 UTC.
    EXPECT_EQ(helper({"schedule-wake", at(60)}).status, 0);
    EXPECT_EQ(helper({"schedule-wake", at(86400)}).status, 0);
    EXPECT_EQ(box.scheduledWakes(), std::vector<std::string>{"11/15/23 22:13:20"});
    EXPECT_EQ(state("wake"), "11/15/23 22:13:20\n");

    box.failCalls("pmset schedule wake");
    EXPECT_EQ(helper({"schedule-wake", at(120)}).status, 1);
    EXPECT_TRUE(box.scheduledWakes().empty());
    EXPECT_FALSE(has("wake"));
    box.clearFailures();

    ASSERT_EQ(helper({"schedule-wake", at(60)}).status, 0);
    EXPECT_EQ(box.scheduledWakes(), std::vector<std::string>{"11/14/23 22:14:20"});
    EXPECT_EQ(helper({"cancel-wake"}).status, 0);
    EXPECT_TRUE(box.scheduledWakes().empty());
    EXPECT_FALSE(has("wake"));
}

TEST_F(PrivilegedInstallHelper, StatusReportsOwnershipSettingAndGuard) {
    auto result = helper({"status"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "owned=0 disablesleep=0 guard=0\n");

    box.setLoaded(guardLabel, true);
    ASSERT_EQ(helper({"lid-on"}).status, 0);
    EXPECT_EQ(helper({"status"}).out, "owned=1 disablesleep=1 guard=1\n");
}

} // namespace
