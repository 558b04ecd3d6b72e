#include "LumenorCore/PrivilegedInstall.h"

#include "LumenorCore/Base64.h"
#include "LumenorCore/LumenorPaths.h"
#include "ShellSandbox.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <locale>

namespace {

namespace fs = std::filesystem;
using namespace PrivilegedInstall;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::Not;

const std::vector<std::string> toolEnvironment{"PATH=/usr/bin:/bin", "LC_ALL=C.UTF-8"};

bool haveTool(const char* path) {
    return fs::exists(path);
}

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

TEST(PrivilegedInstall, HelperPreambleClampsTheBatteryFloor) {
    const std::string preamble =
        "#!/bin/sh\n"
        "# Lumenor privileged helper — the only thing Lumenor is allowed to run as root.\n"
        "# Usage: helper lid-on | renew | lid-off | schedule-wake <epoch> | cancel-wake | guard | "
        "status | begin-maintenance\n"
        "set -u\nPATH=/usr/bin:/bin:/usr/sbin:/sbin\nexport PATH\numask 077\n"
        "STATE=\"/var/db/com.corvata.lumenor\"\nLEASE_SECONDS=120\nMIN_BATTERY=10\n"
        "mkdir -p \"$STATE\"\nchmod 700 \"$STATE\"\n\n"
        "# Serialize every invocation (app, guard, uninstall) so state transitions never "
        "interleave.\n";
    EXPECT_EQ(helperScript(10).substr(0, preamble.size()), preamble);
    for (const auto& [given, floor] :
         std::vector<std::pair<int, int>>{{0, 1}, {-5, 1}, {1, 1}, {50, 50}, {75, 50}}) {
        const auto text = helperScript(given);
        EXPECT_THAT(text, HasSubstr("\nLEASE_SECONDS=120\nMIN_BATTERY=" + std::to_string(floor) +
                                    "\nmkdir"))
            << given;
    }
}

TEST(PrivilegedInstall, SudoersRuleNamesOnlyTheHelper) {
    EXPECT_EQ(sudoers("alice"), "# Installed by Lumenor. Lets alice run ONLY the Lumenor helper as "
                                "root, without a password.\n"
                                "# The helper validates its own arguments. Remove with: sudo rm "
                                "/etc/sudoers.d/lumenor\n"
                                "alice ALL=(root) NOPASSWD: "
                                "/Library/PrivilegedHelperTools/com.corvata.lumenor.helper\n");
    if (!haveTool("/usr/sbin/visudo")) {
        GTEST_SKIP() << "visudo is not installed";
    }
    ShellSandbox box;
    for (const char* user : {"alice", "j.doe_2-x", "Alice"}) {
        box.write(LumenorPaths::sudoersPath, sudoers(user));
        const auto check =
            runProcess({"/usr/sbin/visudo", "-cf", box.at(LumenorPaths::sudoersPath).string()},
                       toolEnvironment);
        EXPECT_EQ(check.status, 0) << user << ": " << check.out << check.err;
        EXPECT_THAT(check.err, Not(HasSubstr("Alias"))) << user;
    }
}

TEST(PrivilegedInstall, GuardPlistParsesWithItsFourKeys) {
    const char* program = "import plistlib, sys\n"
                          "for key, value in plistlib.loads(sys.stdin.buffer.read()).items():\n"
                          "    print(key, type(value).__name__, value)\n";
    const auto parsed =
        runProcess({"/usr/bin/python3", "-c", program}, toolEnvironment, guardPlist());
    EXPECT_EQ(parsed.status, 0) << parsed.err;
    EXPECT_EQ(parsed.out, "Label str com.corvata.lumenor.guard\n"
                          "ProgramArguments list ['" +
                              helperPath +
                              "', 'guard']\n"
                              "RunAtLoad bool True\n"
                              "StartInterval int 30\n");
    EXPECT_EQ(guardPlist().back(), '\n');
}

TEST(PrivilegedInstall, ShellcheckFindsNothingInTheScripts) {
    if (!haveTool("/usr/bin/shellcheck")) {
        GTEST_SKIP() << "shellcheck is not installed";
    }
    for (const auto& script : {helperScript(10), installScript("alice", 10), uninstallScript()}) {
        const auto check =
            runProcess({"/usr/bin/shellcheck", "-s", "sh", "-"}, toolEnvironment, script);
        EXPECT_EQ(check.status, 0) << check.out << check.err;
        EXPECT_EQ(check.out, "");
    }
}

TEST(PrivilegedInstall, SafeUserNames) {
    EXPECT_FALSE(isSafeUserName(""));
    EXPECT_TRUE(isSafeUserName(std::string(64, 'a')));
    EXPECT_FALSE(isSafeUserName(std::string(65, 'a')));
    EXPECT_TRUE(isSafeUserName("John.Doe_2-x"));
    EXPECT_TRUE(isSafeUserName("-"));
    for (const std::string& name :
         std::vector<std::string>{"john doe", "a/b", "a:b", "a\nb", "jos\xC3\xA9", "#501", "%admin",
                                  "a=b", "a,b", std::string("a\0b", 3),
                                  // sudoers reads these as an alias or as every user
                                  "ALL", "ADMINS", "A1_"}) {
        EXPECT_FALSE(isSafeUserName(name)) << name;
        EXPECT_THROW(installScript(name, 10), std::invalid_argument) << name;
        EXPECT_THROW(sudoers(name), std::invalid_argument) << name;
    }
}

struct EveryDigitGrouped : std::numpunct<char> {
    char do_thousands_sep() const override { return ','; }
    std::string do_grouping() const override { return "\1"; }
};

TEST(PrivilegedInstall, TextsIgnoreTheGlobalLocale) {
    const auto plain = installScript("alice", 25);
    const auto previous =
        std::locale::global(std::locale(std::locale::classic(), new EveryDigitGrouped));
    const auto grouped = installScript("alice", 25);
    std::locale::global(previous);
    EXPECT_EQ(grouped, plain);
}

TEST(PrivilegedInstall, Base64MatchesCoreutils) {
    std::string everyByte;
    for (int byte = 0; byte < 256; ++byte) {
        everyByte += static_cast<char>(byte);
    }
    for (const std::string& input :
         std::vector<std::string>{"", "f", "fo", "foo", "foob", "fooba", "foobar", everyByte,
                                  "Lumenor — ⚠️ \"$x\" 'y'\n"}) {
        const auto expected = runProcess({"/usr/bin/base64", "-w0"}, toolEnvironment, input);
        EXPECT_EQ(Base64::encode(input), expected.out);
        EXPECT_EQ(coreutilsDecode(Base64::encode(input)), input);
    }
}

TEST(PrivilegedInstall, PayloadsDecodeToTheGeneratorsOutput) {
    for (int battery : {10, 75}) {
        const auto script = installScript("alice", battery);
        const auto found = payloads(script);
        ASSERT_EQ(found.size(), 3u);
        EXPECT_EQ(coreutilsDecode(found[0]), helperScript(battery));
        EXPECT_EQ(coreutilsDecode(found[1]), sudoers("alice"));
        EXPECT_EQ(coreutilsDecode(found[2]), guardPlist());
        for (const char* target : {"helper", "sudoers", "guard.plist"}) {
            EXPECT_THAT(script,
                        HasSubstr("' | /usr/bin/base64 -D > \"$T/" + std::string(target) + "\"\n"));
        }
    }
    const auto inlined = inlineCommand(uninstallScript());
    EXPECT_EQ(coreutilsDecode(payloads(inlined).at(0)), uninstallScript());
    EXPECT_THAT(inlined, EndsWith("' | /usr/bin/base64 -D | /bin/sh"));
    EXPECT_EQ(inlineCommand(""), "/bin/echo '' | /usr/bin/base64 -D | /bin/sh");
}

// The install and uninstall scripts run for real in a sandbox.
class PrivilegedInstallScripts : public ::testing::Test {
protected:
    void SetUp() override {
        if (!haveTool("/usr/sbin/visudo")) {
            GTEST_SKIP() << "visudo is not installed";
        }
    }
    ShellResult install() { return box.runScript(installScript("alice", 10)); }
    ShellResult uninstall() { return box.runScript(uninstallScript()); }
    ShellResult helper(const std::string& command) { return box.runFile(helperPath, {command}); }
    bool nothingInstalled() const {
        return !box.exists(helperPath) && !box.exists(guardPlistPath) &&
               !box.exists(LumenorPaths::sudoersPath) && !box.exists(stateDirectory) &&
               !box.isLoaded(guardLabel) && fs::is_empty(box.at("/private/tmp"));
    }
    std::ptrdiff_t firstCall(std::string_view prefix) const {
        const auto all = box.calls();
        const auto at = std::find_if(all.begin(), all.end(),
                                     [&](const std::string& c) { return c.starts_with(prefix); });
        return at - all.begin();
    }

    ShellSandbox box;
};

TEST_F(PrivilegedInstallScripts, FirstInstallThroughTheInlineCommand) {
    const auto result = box.runCommand(inlineCommand(installScript("alice", 10)));
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "");
    EXPECT_TRUE(box.calls("lockf").empty());
    EXPECT_EQ(box.installedAs("/Library/PrivilegedHelperTools"), "root:wheel 755");
    for (const auto& [path, mode] : std::vector<std::pair<std::string, unsigned>>{
             {helperPath, 0755}, {guardPlistPath, 0644}, {LumenorPaths::sudoersPath, 0440}}) {
        char octal[8];
        std::snprintf(octal, sizeof octal, "%o", mode);
        EXPECT_EQ(box.installedAs(path), "root:wheel " + std::string(octal));
        EXPECT_EQ(box.mode(path), mode) << path;
    }
    EXPECT_EQ(box.read(helperPath), box.rewrite(helperScript(10)));
    EXPECT_EQ(box.read(LumenorPaths::sudoersPath), box.rewrite(sudoers("alice")));
    EXPECT_TRUE(box.isLoaded(guardLabel));
    EXPECT_TRUE(fs::is_empty(box.at("/private/tmp")));
    // The user may run the helper only once its guard is running.
    EXPECT_LT(firstCall("launchctl bootstrap"), firstCall("install -o root -g wheel -m 440"));
    EXPECT_EQ(helper("status").out, "owned=0 disablesleep=0 guard=1\n");
    EXPECT_FALSE(box.exists(stateDirectory + "/maintenance"));
}

TEST_F(PrivilegedInstallScripts, ReinstallRestoresSleepFirstAndStopsWhenItCannot) {
    ASSERT_EQ(install().status, 0);
    ASSERT_EQ(helper("lid-on").status, 0);
    ASSERT_EQ(box.runFile(helperPath, {"schedule-wake", std::to_string(box.now() + 600)}).status,
              0);
    box.clearCalls();
    auto result = install();
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(box.calls("lockf").at(0),
              "lockf -k -t 60 " + stateDirectory + "/lock " + helperPath + " begin-maintenance");
    EXPECT_LT(firstCall("lockf"), firstCall("install"));
    EXPECT_EQ(box.sleepDisabled(), "0");
    EXPECT_TRUE(box.scheduledWakes().empty());
    EXPECT_TRUE(box.isLoaded(guardLabel));
    EXPECT_FALSE(box.exists(stateDirectory + "/maintenance"));
    EXPECT_EQ(helper("lid-on").status, 0);

    box.failCalls("pmset -a disablesleep 0");
    box.clearCalls();
    result = install();
    EXPECT_EQ(result.status, 1);
    EXPECT_THAT(result.err, EndsWith("Couldn't restore normal sleep; not reinstalling.\n"));
    EXPECT_TRUE(box.calls("install").empty());
    EXPECT_TRUE(box.exists(LumenorPaths::sudoersPath) && box.isLoaded(guardLabel));
    EXPECT_EQ(helper("lid-on").status, 3);
}

TEST_F(PrivilegedInstallScripts, FailedGuardLoadRollsBackWithoutEverInstallingSudoers) {
    box.failCalls("launchctl bootstrap");
    const auto result = install();
    EXPECT_EQ(result.status, 1);
    EXPECT_THAT(result.err, HasSubstr("Couldn't load the Lumenor guard\n"));
    EXPECT_TRUE(box.calls("install -o root -g wheel -m 440").empty());
    EXPECT_FALSE(box.calls("install -o root -g wheel -m 755").empty());
    EXPECT_TRUE(nothingInstalled());
}

TEST_F(PrivilegedInstallScripts, InvalidSudoersTextRollsBackAnEarlierInstallationToo) {
    ASSERT_EQ(install().status, 0);
    auto script = installScript("alice", 10);
    const auto rule = payloads(script).at(1);
    script.replace(script.find(rule), rule.size(), Base64::encode("alice ALL=(root\n"));
    box.clearCalls();
    const auto result = box.runScript(script);
    EXPECT_EQ(result.status, 1);
    EXPECT_THAT(result.err, HasSubstr("syntax error"));
    EXPECT_TRUE(box.calls("install").empty());
    EXPECT_TRUE(nothingInstalled());
}

TEST_F(PrivilegedInstallScripts, UninstallRemovesEverythingOnceSleepIsRestored) {
    auto result = uninstall();
    EXPECT_EQ(result.status, 0) << result.err;

    ASSERT_EQ(install().status, 0);
    ASSERT_EQ(helper("lid-on").status, 0);
    box.failCalls("pmset -a disablesleep 0");
    result = uninstall();
    EXPECT_EQ(result.status, 1);
    EXPECT_THAT(result.err,
                EndsWith("Couldn't restore normal sleep; leaving the guard installed.\n"));
    EXPECT_TRUE(box.isLoaded(guardLabel) && box.exists(LumenorPaths::sudoersPath));

    box.clearFailures();
    result = uninstall();
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(box.sleepDisabled(), "0");
    EXPECT_TRUE(nothingInstalled());
}

} // namespace
