#include "LumenorCore/PrivilegedInstall.h"

#include "LumenorCore/Base64.h"
#include "LumenorCore/LumenorPaths.h"
#include "ShellSandbox.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;
using namespace PrivilegedInstall;
using LumenorPaths::sudoersPath;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::Not;

// The base64 texts that the script writes with /bin/echo, in order.
std::vector<std::string> payloads(std::string_view script) {
    const std::string_view start = "/bin/echo '";
    std::vector<std::string> found;
    for (auto at = script.find(start); at != std::string_view::npos; at = script.find(start, at)) {
        at += start.size();
        found.emplace_back(script.substr(at, script.find('\'', at) - at));
    }
    return found;
}

std::string coreutilsDecode(std::string_view text) {
    return runProcess({"/usr/bin/base64", "-d"}, toolEnvironment, text).out;
}

TEST(PrivilegedInstall, GeneratedTextsPassTheirOwnTools) {
    for (const auto& [given, floor] : {std::pair{0, 1}, {1, 1}, {50, 50}, {75, 50}})
        EXPECT_THAT(helperScript(given),
                    HasSubstr("\nMIN_BATTERY=" + std::to_string(floor) + "\n"));

    EXPECT_THAT(sudoers("alice"), EndsWith("\nalice ALL=(root) NOPASSWD: " + helperPath + "\n"));
    ShellSandbox box;
    for (const char* user : {"alice", "j.doe_2-x", "Alice"}) {
        box.write(sudoersPath, sudoers(user));
        const auto check =
            runProcess({"/usr/sbin/visudo", "-cf", box.at(sudoersPath).string()}, toolEnvironment);
        EXPECT_EQ(check.status, 0) << user << ": " << check.out << check.err;
        EXPECT_THAT(check.err, Not(HasSubstr("Alias"))) << user;
    }

    const char* program = "import plistlib, sys\n"
                          "for key, value in plistlib.loads(sys.stdin.buffer.read()).items():\n"
                          "    print(key, type(value).__name__, value)\n";
    const auto parsed =
        runProcess({"/usr/bin/python3", "-c", program}, toolEnvironment, guardPlist());
    EXPECT_EQ(parsed.out, "Label str com.corvata.lumenor.guard\n"
                          "ProgramArguments list ['" +
                              helperPath +
                              "', 'guard']\n"
                              "RunAtLoad bool True\n"
                              "StartInterval int 30\n")
        << parsed.err;

    for (const auto& script : {helperScript(10), installScript("alice", 10), uninstallScript()}) {
        const auto check =
            runProcess({"/usr/bin/shellcheck", "-s", "sh", "-"}, toolEnvironment, script);
        EXPECT_EQ(check.status, 0) << check.out << check.err;
    }
}

TEST(PrivilegedInstall, SafeUserNames) {
    for (const std::string& name :
         {std::string(64, 'a'), std::string("John.Doe_2-x"), std::string("-")})
        EXPECT_TRUE(isSafeUserName(name)) << name;
    // The last three sudoers reads as an alias or as every user.
    for (const std::string& name :
         {std::string(), std::string(65, 'a'), std::string("john doe"), std::string("a/b"),
          std::string("a:b"), std::string("a\nb"), std::string("jos\xC3\xA9"), std::string("#501"),
          std::string("%admin"), std::string("a=b"), std::string("a,b"), std::string("a\0b", 3),
          std::string("ALL"), std::string("ADMINS"), std::string("A1_")}) {
        EXPECT_FALSE(isSafeUserName(name)) << name;
        EXPECT_THROW(installScript(name, 10), std::invalid_argument) << name;
        EXPECT_THROW(sudoers(name), std::invalid_argument) << name;
    }
}

TEST(PrivilegedInstall, PayloadsDecodeToTheGeneratorsOutput) {
    std::string everyByte;
    for (int byte = 0; byte < 256; ++byte)
        everyByte += static_cast<char>(byte);
    for (const std::string& input : {std::string(), std::string("f"), std::string("fo"), everyByte})
        EXPECT_EQ(coreutilsDecode(Base64::encode(input)), input);

    const auto found = payloads(installScript("alice", 75));
    ASSERT_EQ(found.size(), 3u);
    EXPECT_EQ(coreutilsDecode(found[0]), helperScript(75));
    EXPECT_EQ(coreutilsDecode(found[1]), sudoers("alice"));
    EXPECT_EQ(coreutilsDecode(found[2]), guardPlist());
    const auto inlined = inlineCommand(uninstallScript());
    EXPECT_EQ(coreutilsDecode(payloads(inlined).at(0)), uninstallScript());
    EXPECT_EQ(inlineCommand(""), "/bin/echo '' | /usr/bin/base64 -D | /bin/sh");
}

// The generated scripts run for real by /bin/sh in a sandbox with stand-in macOS tools.
class ScriptSandbox : public ::testing::Test {
protected:
    ShellResult helper(const std::string& arguments) {
        return box.run(helperPath + " " + arguments);
    }
    ShellResult install() { return box.run(installScript("alice", 10)); }
    static std::string file(std::string_view name) {
        return stateDirectory + "/" + std::string(name);
    }
    bool has(std::string_view name) const { return box.exists(file(name)); }
    std::optional<std::string> state(std::string_view name) const { return box.read(file(name)); }
    std::string at(long long offset) const { return std::to_string(box.now + offset); }
    std::optional<std::string> sleepDisabled() const { return box.read("/fake/SleepDisabled"); }
    bool nothingInstalled() const {
        return !box.exists(helperPath) && !box.exists(guardPlistPath) && !box.exists(sudoersPath) &&
               !box.exists(stateDirectory) && !box.exists("/fake/loaded/" + guardLabel) &&
               fs::is_empty(box.at("/private/tmp"));
    }

    ShellSandbox box;
};

class HelperScript : public ScriptSandbox {
protected:
    void SetUp() override {
        box.write(helperPath, box.rewrite(helperScript(10)));
        fs::permissions(box.at(helperPath), fs::perms::owner_all);
    }
};
using InstallScripts = ScriptSandbox;

TEST_F(HelperScript, LidOnKeepsTheFirstBaselineAndLidOffRestoresIt) {
    for (const std::string before : {"0", "1"}) {
        box.write("/fake/SleepDisabled", before + "\n");
        ASSERT_EQ(helper("lid-on").status, 0);
        box.now += 30;
        EXPECT_EQ(helper("lid-on").status, 0);
        EXPECT_EQ(state("baseline"), before + "\n");
        EXPECT_EQ(state("lease"), at(120) + "\n");
        EXPECT_EQ(sleepDisabled(), "1\n");
        EXPECT_EQ(box.mode(file("lease")), 0600u);
        EXPECT_EQ(helper("status").out, "owned=1 disablesleep=1 guard=0\n");

        EXPECT_EQ(helper("lid-off").status, 0);
        EXPECT_EQ(sleepDisabled(), before + "\n");
        EXPECT_FALSE(has("owned") || has("baseline") || has("lease"));
    }
    EXPECT_EQ(box.mode(stateDirectory), 0700u);
    box.write("/fake/calls", "");
    EXPECT_EQ(helper("lid-off").status, 0);
    EXPECT_TRUE(box.calls("pmset").empty());

    // A garbled baseline restores 0.
    box.write("/fake/SleepDisabled", "1\n");
    ASSERT_EQ(helper("lid-on").status, 0);
    box.write(file("baseline"), "garbage\n");
    EXPECT_EQ(helper("lid-off").status, 0);
    EXPECT_EQ(sleepDisabled(), "0\n");

    // A restore that fails, or that does not stick, keeps ownership so that it is retried.
    ASSERT_EQ(helper("lid-on").status, 0);
    for (const int status : {1, 0}) {
        box.interceptCalls("pmset -a disablesleep 0", status);
        EXPECT_EQ(helper("lid-off").status, 1);
        EXPECT_TRUE(has("owned") && has("baseline") && has("lease"));
        box.write("/fake/intercepts", "");
    }
    EXPECT_EQ(helper("lid-off").status, 0);
    EXPECT_EQ(sleepDisabled(), "0\n");
}

TEST_F(HelperScript, RunsOnceUnderTheLockAndPrintsUsage) {
    const auto result = helper("");
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.err, "usage: " + helperPath +
                              " lid-on|renew|lid-off|schedule-wake "
                              "<epoch>|cancel-wake|guard|status|begin-maintenance\n");
    // A re-exec that lost LUMENOR_LOCKED would take the lock a second time.
    EXPECT_EQ(box.calls("lockf"),
              std::vector<std::string>{"lockf -k -t 60 " + file("lock") + " " + helperPath});

    box.write("/fake/calls", "");
    EXPECT_EQ(box.run("LUMENOR_LOCKED=1 " + helperPath + " bogus").status, 2);
    EXPECT_TRUE(box.calls("lockf").empty());
}

TEST_F(HelperScript, LidOnIsRefusedBelowTheBatteryFloor) {
    // The percent is the first number followed by "%", not the battery's index or id.
    box.setBattery(true, 9);
    const auto result = helper("lid-on");
    EXPECT_EQ(result.status, 3);
    EXPECT_EQ(result.err, "battery below 10%\n");
    EXPECT_FALSE(has("owned"));

    for (const auto& [onBattery, percent] :
         {std::pair<bool, std::optional<int>>{false, 5}, {true, std::nullopt}, {true, 10}}) {
        box.setBattery(onBattery, percent);
        EXPECT_EQ(helper("lid-on").status, 0) << percent.value_or(-1);
    }
}

TEST_F(HelperScript, GuardRestoresOnlyAnExpiredOrImplausibleLease) {
    EXPECT_EQ(helper("guard").status, 0);
    EXPECT_TRUE(box.calls("pmset").empty());
    EXPECT_EQ(helper("renew").status, 1);

    ASSERT_EQ(helper("lid-on").status, 0);
    for (const auto& lease : {at(0), at(180)}) {
        box.write(file("lease"), lease + "\n");
        EXPECT_EQ(helper("guard").status, 0);
        EXPECT_TRUE(has("owned")) << lease;
    }
    EXPECT_FALSE(box.exists("/fake/syslog"));
    box.now += 100;
    EXPECT_EQ(helper("renew").status, 0);
    EXPECT_EQ(state("lease"), at(120) + "\n");

    // An 11-digit lease counts as expired even when its value would be in range.
    for (const auto& lease : {at(181), at(-1), "0" + at(60), std::string()}) {
        ASSERT_EQ(helper("lid-on").status, 0);
        box.write(file("lease"), lease + "\n");
        EXPECT_EQ(helper("guard").status, 0);
        EXPECT_FALSE(has("owned")) << lease;
        EXPECT_EQ(sleepDisabled(), "0\n");
        EXPECT_THAT(box.read("/fake/syslog").value_or(""),
                    EndsWith("lumenor: lease expired; turning lid-closed mode off\n"));
    }
    EXPECT_EQ(helper("renew").status, 1);

    ASSERT_EQ(helper("lid-on").status, 0);
    box.setBattery(true, 9);
    EXPECT_EQ(helper("guard").status, 0);
    EXPECT_FALSE(has("owned"));
    EXPECT_THAT(box.read("/fake/syslog").value_or(""),
                EndsWith("lumenor: battery below 10%; turning lid-closed mode off\n"));
}

TEST_F(HelperScript, ScheduleWakeValidatesItsTimestampAndTracksOneEvent) {
    // The check is shared with the Linux helper, whose tests try every kind of bad timestamp.
    for (const auto& [argument, message] :
         {std::pair<std::string, std::string>{"12a", "bad timestamp"},
          {at(59), "timestamp out of range"}}) {
        const auto result = helper("schedule-wake " + argument);
        EXPECT_EQ(result.status, 2) << argument;
        EXPECT_EQ(result.err, "schedule-wake: " + message + "\n") << argument;
    }
    EXPECT_TRUE(box.calls("pmset").empty());

    // The sandbox's clock reads 11/14/23 22:13:20 UTC.
    EXPECT_EQ(helper("schedule-wake " + at(60)).status, 0);
    EXPECT_EQ(helper("schedule-wake " + at(86400)).status, 0);
    EXPECT_EQ(box.read("/fake/schedule"), "11/15/23 22:13:20\n");
    EXPECT_EQ(state("wake"), "11/15/23 22:13:20\n");

    box.interceptCalls("pmset schedule wake", 1);
    EXPECT_EQ(helper("schedule-wake " + at(120)).status, 1);
    EXPECT_TRUE(box.read("/fake/schedule") == "");
    EXPECT_FALSE(has("wake"));
    box.write("/fake/intercepts", "");

    ASSERT_EQ(helper("schedule-wake " + at(60)).status, 0);
    EXPECT_EQ(helper("cancel-wake").status, 0);
    EXPECT_TRUE(box.read("/fake/schedule") == "");
    EXPECT_FALSE(has("wake"));
}

TEST_F(InstallScripts, FirstInstallThroughTheInlineCommand) {
    const auto result = box.run(inlineCommand(installScript("alice", 10)));
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "");
    EXPECT_TRUE(box.calls("lockf").empty());
    EXPECT_EQ(box.calls("install -d"),
              std::vector<std::string>{
                  "install -d -o root -g wheel -m 755 /Library/PrivilegedHelperTools"});
    for (const auto& [path, mode] : {std::pair<std::string, std::string>{helperPath, "755"},
                                     {guardPlistPath, "644"},
                                     {sudoersPath, "440"}}) {
        const auto installs = box.calls("install -o root -g wheel -m " + mode);
        EXPECT_TRUE(installs.size() == 1 && installs[0].ends_with(" " + path)) << path;
        EXPECT_EQ(box.mode(path), std::stoul(mode, nullptr, 8)) << path;
    }
    EXPECT_EQ(box.read(helperPath), box.rewrite(helperScript(10)));
    EXPECT_EQ(box.read(sudoersPath), box.rewrite(sudoers("alice")));
    EXPECT_TRUE(fs::is_empty(box.at("/private/tmp")));
    // The user may run the helper only once its guard is running.
    EXPECT_LT(box.firstCall("launchctl bootstrap"),
              box.firstCall("install -o root -g wheel -m 440"));
    EXPECT_EQ(helper("status").out, "owned=0 disablesleep=0 guard=1\n");
}

TEST_F(InstallScripts, ReinstallRestoresSleepFirstAndStopsWhenItCannot) {
    ASSERT_EQ(install().status, 0);
    ASSERT_EQ(helper("lid-on").status, 0);
    ASSERT_EQ(helper("schedule-wake " + std::to_string(box.now + 600)).status, 0);
    box.write("/fake/calls", "");
    auto result = install();
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(box.calls("lockf").at(0),
              "lockf -k -t 60 " + stateDirectory + "/lock " + helperPath + " begin-maintenance");
    EXPECT_LT(box.firstCall("lockf"), box.firstCall("install"));
    EXPECT_EQ(sleepDisabled(), "0\n");
    EXPECT_TRUE(box.read("/fake/schedule") == "");
    EXPECT_TRUE(box.exists("/fake/loaded/" + guardLabel));
    EXPECT_FALSE(box.exists(stateDirectory + "/maintenance"));
    EXPECT_EQ(helper("lid-on").status, 0);

    box.interceptCalls("pmset -a disablesleep 0", 1);
    box.write("/fake/calls", "");
    result = install();
    EXPECT_EQ(result.status, 1);
    EXPECT_THAT(result.err, EndsWith("Couldn't restore normal sleep; not reinstalling.\n"));
    EXPECT_TRUE(box.calls("install").empty());
    EXPECT_TRUE(box.exists(sudoersPath) && box.exists("/fake/loaded/" + guardLabel));
    EXPECT_EQ(helper("lid-on").err, "maintenance in progress\n");
    EXPECT_TRUE(box.calls("pmset -a disablesleep 1").empty());
}

TEST_F(InstallScripts, FailedGuardLoadRollsBackWithoutEverInstallingSudoers) {
    box.interceptCalls("launchctl bootstrap", 1);
    const auto result = install();
    EXPECT_EQ(result.status, 1);
    EXPECT_THAT(result.err, HasSubstr("Couldn't load the Lumenor guard\n"));
    EXPECT_TRUE(box.calls("install -o root -g wheel -m 440").empty());
    EXPECT_FALSE(box.calls("install -o root -g wheel -m 755").empty());
    EXPECT_TRUE(nothingInstalled());
}

TEST_F(InstallScripts, InvalidSudoersTextRollsBackAnEarlierInstallationToo) {
    ASSERT_EQ(install().status, 0);
    auto script = installScript("alice", 10);
    const auto rule = payloads(script).at(1);
    script.replace(script.find(rule), rule.size(), Base64::encode("alice ALL=(root\n"));
    box.write("/fake/calls", "");
    const auto result = box.run(script);
    EXPECT_EQ(result.status, 1);
    EXPECT_THAT(result.err, HasSubstr("syntax error"));
    EXPECT_TRUE(box.calls("install").empty());
    EXPECT_TRUE(nothingInstalled());
}

TEST_F(InstallScripts, UninstallRemovesEverythingOnceSleepIsRestored) {
    EXPECT_EQ(box.run(uninstallScript()).status, 0);
    ASSERT_EQ(install().status, 0);
    ASSERT_EQ(helper("lid-on").status, 0);
    box.interceptCalls("pmset -a disablesleep 0", 1);
    auto result = box.run(uninstallScript());
    EXPECT_EQ(result.status, 1);
    EXPECT_THAT(result.err,
                EndsWith("Couldn't restore normal sleep; leaving the guard installed.\n"));
    EXPECT_TRUE(box.exists("/fake/loaded/" + guardLabel) && box.exists(sudoersPath));

    box.write("/fake/intercepts", "");
    result = box.run(uninstallScript());
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(sleepDisabled(), "0\n");
    EXPECT_TRUE(nothingInstalled());
}

} // namespace
