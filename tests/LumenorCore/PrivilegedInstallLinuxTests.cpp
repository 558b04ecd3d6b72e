#include "LumenorCore/PrivilegedInstallLinux.h"

#include "LumenorCore/LumenorPaths.h"
#include "ShellSandbox.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

namespace {

namespace fs = std::filesystem;
using namespace PrivilegedInstallLinux;
using LumenorPaths::sudoersPath;
using namespace ::testing;
using namespace std::string_literals;

const std::string tool = LUMENOR_BINARY_DIR "/bin/lumenor";

TEST(PrivilegedInstallLinux, GeneratedTextsPassTheirOwnToolsAndTravelIntact) {
    ShellSandbox box;
    for (const char* user : {"alice", "j.doe_2-x", "Alice"}) {
        box.write(sudoersPath, sudoers(user));
        const auto check =
            runProcess({"/usr/sbin/visudo", "-cf", box.at(sudoersPath).string()}, toolEnvironment);
        EXPECT_EQ(check.status, 0) << user << ": " << check.out << check.err;
        EXPECT_THAT(check.err, Not(HasSubstr("Alias"))) << user;
    }
    EXPECT_THAT(sudoers("alice"), EndsWith("\nalice ALL=(root) NOPASSWD: " + helperPath + "\n"));

    // What is piped into `sudo sh` can be read: the helper and the rule appear as they are written.
    for (const std::string& content : {helperScript(), sudoers("alice")})
        EXPECT_THAT(installScript("alice"),
                    HasSubstr("<<'LUMENOR_END'\n" + content + "LUMENOR_END\n"));
    EXPECT_THAT(installScript("alice"), Not(HasSubstr("base64")));
    for (const auto& script : {helperScript(), installScript("alice"), uninstallScript()}) {
        const auto lint =
            runProcess({"/usr/bin/shellcheck", "-s", "sh", "-"}, toolEnvironment, script);
        EXPECT_EQ(lint.status, 0) << lint.out << lint.err;
    }
    // Coreutils decodes what our encoder wrote, every byte value and every padding included.
    std::string everyByte;
    for (int byte = 0; byte < 256; ++byte)
        everyByte += static_cast<char>(byte);
    for (const std::string& script : {installScript("alice"), everyByte, std::string("fo")}) {
        const std::string command = inlineCommand(script);
        EXPECT_THAT(command, EndsWith("' | /usr/bin/base64 -d | /bin/sh"));
        const auto decoded =
            runProcess({"/bin/sh", "-c", command.substr(0, command.rfind(" | "))}, toolEnvironment);
        EXPECT_EQ(decoded.out, script);
    }
}

TEST(PrivilegedInstallLinux, OnlyNamesSudoersReadsAsOneUserBecomeARule) {
    for (const std::string& name : {std::string(64, 'a'), "John.Doe_2-x"s, "defaults"s, "alias"s})
        EXPECT_TRUE(isSafeUserName(name)) << name;
    // From "ALL" on: words sudoers reads as every user, as an alias or as its own keywords.
    for (const std::string& name : {""s, std::string(65, 'a'), "john doe"s, "jos\xC3\xA9"s, "a\0b"s,
                                    "ALL"s, "A1_"s, "Defaults"s, "User_Alias"s, "me_ALIAS"s}) {
        EXPECT_FALSE(isSafeUserName(name)) << name;
        EXPECT_THROW(installScript(name), std::invalid_argument) << name;
    }
}

class LinuxScripts : public ::testing::Test {
protected:
    ShellResult helper(const std::string& arguments) {
        return box.run(helperPath + " " + arguments);
    }
    void placeHelper() {
        box.write(helperPath, box.rewrite(helperScript()));
        fs::permissions(box.at(helperPath), fs::perms::owner_all);
    }
    std::string at(long long offset) const { return std::to_string(box.now + offset); }
    std::optional<std::string> wake() const { return box.read(stateDirectory + "/wake"); }
    std::optional<std::string> alarm() const { return box.read("/fake/alarm"); }
    bool nothingInstalled() const {
        return !box.exists(helperDirectory) && !box.exists(sudoersPath) &&
               !box.exists(stateDirectory) && fs::is_empty(box.at("/tmp"));
    }
    // The script `lumenor <command> --print-script` prints.
    std::string printed(const std::string& command) const {
        const auto printing = runProcess({tool, command, "--print-script"}, toolEnvironment);
        EXPECT_EQ(printing.failure(), "0: ");
        return printing.out;
    }

    ShellSandbox box;
};

TEST_F(LinuxScripts, ScheduleWakeValidatesAndTracksOneAlarm) {
    placeHelper();
    for (const auto& bad : {"''"s, "12a"s})
        EXPECT_EQ(helper("schedule-wake " + bad).failure(), "2: schedule-wake: bad timestamp\n");
    for (const auto& far : {"17000000600"s, at(59), at(86401)})
        EXPECT_EQ(helper("schedule-wake " + far).failure(),
                  "2: schedule-wake: timestamp out of range\n");

    // The sandbox's clock reads 11/14/23 22:13:20 UTC.
    EXPECT_EQ(helper("schedule-wake " + at(60)).status, 0);
    EXPECT_EQ(helper("schedule-wake " + at(86400)).status, 0);
    EXPECT_EQ(wake(), "11/15/23 22:13:20\n");
    EXPECT_EQ(box.mode(stateDirectory), 0700u);
    EXPECT_EQ(box.mode(stateDirectory + "/wake"), 0600u);
    EXPECT_EQ(box.calls("rtcwake"),
              (std::vector<std::string>{"rtcwake -m no -t " + at(60), "rtcwake -m disable",
                                        "rtcwake -m no -t " + at(86400)}));
    EXPECT_THAT(box.read("/fake/syslog").value_or(""),
                EndsWith("lumenor: wake scheduled for 11/15/23 22:13:20\n"));
    EXPECT_EQ(helper("status").out, "wake=1 rtc=1\n");

    // A refused alarm leaves no wake tracked: the old one was cancelled first.
    box.interceptCalls("rtcwake -m no", 1);
    EXPECT_EQ(helper("schedule-wake " + at(120)).status, 1);
    EXPECT_FALSE(alarm() || wake());
    box.write("/fake/intercepts", "");

    ASSERT_EQ(helper("schedule-wake " + at(60)).status, 0);
    EXPECT_EQ(helper("cancel-wake").status, 0);
    EXPECT_FALSE(alarm() || wake());
    EXPECT_EQ(helper("cancel-wake").status, 0);

    box.write(stateDirectory + "/maintenance", "");
    EXPECT_EQ(helper("schedule-wake " + at(60)).failure(),
              "1: schedule-wake: refused while the helper is being installed or removed\n");

    fs::remove(box.at("/sys/class/rtc/rtc0/wakealarm"));
    EXPECT_EQ(helper("status").out, "wake=0 rtc=0 (this computer has no wake-capable clock)\n");
    // One lock per invocation: a re-exec that lost LUMENOR_LOCKED would take it a second time.
    box.write("/fake/calls", "");
    EXPECT_EQ(helper("lid-on").failure(),
              "2: usage: " + helperPath +
                  " schedule-wake <epoch>|cancel-wake|status|begin-maintenance\n");
    EXPECT_EQ(box.calls("flock"), std::vector<std::string>{"flock -w 60 " + stateDirectory +
                                                           "/lock " + helperPath + " lid-on"});
}

TEST_F(LinuxScripts, ConcurrentInvocationsTakeTurns) {
    placeHelper();
    box.write("/fake/slow", "");
    ASSERT_EQ(box.run(helperPath + " schedule-wake " + at(100) + " & " + helperPath +
                      " schedule-wake " + at(200) + " & wait")
                  .failure(),
              "0: ");
    // Each rtcwake is done before the next starts, whichever invocation came first.
    const auto calls = box.calls("rtcwake");
    const bool hundredFirst = !calls.empty() && calls[0].ends_with(at(100));
    const auto [first, last] =
        hundredFirst ? std::pair(at(100), at(200)) : std::pair(at(200), at(100));
    EXPECT_EQ(calls, (std::vector<std::string>{"rtcwake -m no -t " + first, "rtcwake done",
                                               "rtcwake -m disable", "rtcwake done",
                                               "rtcwake -m no -t " + last, "rtcwake done"}));
    EXPECT_EQ(alarm(), last + "\n");
}

TEST_F(LinuxScripts, PrintedSetupInstallsAndPrintedRemovalLeavesNothing) {
    ASSERT_EQ(box.run(printed("setup")).failure(), "0: ");
    EXPECT_EQ(box.calls("install -d"),
              std::vector<std::string>{"install -d -o root -g root -m 755 " + helperDirectory});
    EXPECT_EQ(box.mode(helperPath), 0755u);
    EXPECT_EQ(box.mode(sudoersPath), 0440u);
    // The rule goes in last, once the helper it names is in place.
    EXPECT_THAT(box.calls("install -o root -g root"),
                ElementsAre(HasSubstr("-m 755"), HasSubstr("-m 440")));
    EXPECT_EQ(box.read(helperPath), box.rewrite(helperScript()));
    EXPECT_TRUE(fs::is_empty(box.at("/tmp")));

    // A reinstall first cancels the wake the old helper tracks.
    ASSERT_EQ(helper("schedule-wake " + at(600)).status, 0);
    box.write("/fake/calls", "");
    ASSERT_EQ(box.run(inlineCommand(installScript("alice"))).failure(), "0: ");
    const auto calls = box.calls();
    EXPECT_LT(std::ranges::find(calls, "rtcwake -m disable"),
              std::ranges::find_if(calls, [](const auto& c) { return c.starts_with("install"); }));
    EXPECT_FALSE(alarm() || wake() || box.exists(stateDirectory + "/maintenance"));
    EXPECT_EQ(box.read(sudoersPath), box.rewrite(sudoers("alice")));

    const std::string removal = printed("uninstall-helper");
    box.write("/fake/alarm", at(900) + "\n"); // armed, but its record lost
    EXPECT_EQ(box.run(removal).failure(), "0: ");
    EXPECT_TRUE(nothingInstalled() && !alarm());
    EXPECT_EQ(box.run(removal).failure(), "0: ") << "nothing to remove is no failure";
}

TEST_F(LinuxScripts, FailedInstallsLeaveNothingBehind) {
    ASSERT_EQ(box.run(installScript("alice")).status, 0);
    auto script = installScript("alice");
    const auto rule = sudoers("alice");
    script.replace(script.find(rule), rule.size(), "alice ALL=(root\n");
    EXPECT_THAT(box.run(script).failure(), AllOf(StartsWith("1: "), HasSubstr("syntax error")));
    EXPECT_TRUE(nothingInstalled()) << "the earlier installation is gone too";

    box.interceptCalls("install -o root -g root -m 440", 1);
    EXPECT_EQ(box.run(installScript("alice")).status, 1);
    EXPECT_TRUE(nothingInstalled());
    box.write("/fake/intercepts", "");

    // An old helper that cannot stop its work is neither replaced nor removed.
    ASSERT_EQ(box.run(installScript("alice")).status, 0);
    box.interceptCalls("flock", 1);
    for (const auto& [script, message] :
         {std::pair{installScript("alice"), "Couldn't stop the old helper; not reinstalling.\n"},
          {uninstallScript(), "Couldn't stop the helper; not removing it.\n"}}) {
        EXPECT_EQ(box.run(script).failure(), "1: "s + message);
        EXPECT_TRUE(box.exists(sudoersPath) && box.exists(helperPath));
    }
    box.write("/fake/intercepts", "");
    ASSERT_EQ(box.run(uninstallScript()).status, 0);

    fs::remove(box.at("/sys/class/rtc/rtc0/wakealarm"));
    box.write("/fake/calls", "");
    EXPECT_EQ(box.run(installScript("alice")).failure(),
              "1: This computer has no wake-capable clock, so it can't wake on a schedule.\n");
    EXPECT_TRUE(box.calls("install").empty());
    EXPECT_TRUE(nothingInstalled());
}

} // namespace
