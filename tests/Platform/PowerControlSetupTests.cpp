// The administrator prompt with a stand-in pkexec, and turning the display off.
#include "Lumenor/Platform/PowerControl.h"
#include "Lumenor/Platform/PowerControlDetail.h"
#include "LumenorCore/PrivilegedInstallLinux.h"
#include "Platform/PlatformTestSupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <tuple>

namespace {

using PowerControl::RunResult;
using PowerControl::SetupError;
using PowerControl::detail::installHelperFor;
using PowerControl::detail::runAsAdminWith;
using PowerControl::detail::setupBlockerFor;
using PowerControl::detail::SetupTools;
using namespace ::testing;

/// Matches a call that throws a SetupError of `kind` whose text matches `text`.
template <typename Text> auto throwsSetupError(SetupError::Kind kind, Text text) {
    return Throws<SetupError>(
        AllOf(Property(&SetupError::kind, kind), Property(&SetupError::what, text)));
}

/// A stand-in tool `name` in `folder` that runs `body`.
std::string tool(const TemporaryFolder& folder, const std::string& name, const std::string& body) {
    const auto file = folder.write(name, "#!/bin/sh\n" + body + "\n");
    std::filesystem::permissions(file, std::filesystem::perms::owner_all);
    return file.string();
}

const std::string instead =
    ". Run this in a terminal instead: lumenor setup --print-script | sudo sh";
const std::string noAgent = "Lumenor can't ask for administrator approval here: no polkit "
                            "authentication agent is running" +
                            instead;
const std::string noPkexec =
    "Lumenor can't ask for administrator approval here: pkexec is not installed" + instead;

TEST(Setup, RefusesBeforeAnyPromptWhenItCannotWork) {
    TemporaryFolder folder;
    const SetupTools present{tool(folder, "pkexec", "exit 0"), tool(folder, "sudo", "exit 0"),
                             tool(folder, "visudo", "exit 0")};
    EXPECT_EQ(setupBlockerFor(present, "alice", true), std::nullopt);
    const std::string absent = (folder.path() / "absent").string();
    auto without = [&](std::string SetupTools::*member) {
        SetupTools tools = present;
        tools.*member = absent;
        return tools;
    };
    const std::vector<std::tuple<SetupTools, std::string, bool, std::string>> cases{
        {present, "Defaults", true, "Unsupported user name for sudoers."},
        {without(&SetupTools::sudo), "alice", true,
         "Scheduled wake needs sudo, and " + absent +
             " is missing: install the sudo package first."},
        {without(&SetupTools::visudo), "alice", true,
         "Scheduled wake needs visudo, and " + absent +
             " is missing: install the sudo package first."},
        {without(&SetupTools::pkexec), "alice", true, noPkexec},
        {present, "alice", false, noAgent},
    };
    for (const auto& [tools, user, session, message] : cases)
        EXPECT_EQ(setupBlockerFor(tools, user, session), message) << message;
}

TEST(Setup, HandsTheInstallScriptToPkexecAndReadsItsAnswer) {
    TemporaryFolder folder;
    const auto handed = folder.path() / "handed";
    const std::string approve =
        tool(folder, "approve",
             "[ \"$1 $2\" = '/bin/sh -c' ] || exit 9\nprintf '%s' \"$3\" > " + handed.string());
    installHelperFor("alice", approve);
    std::ifstream in(handed);
    EXPECT_EQ(
        std::string(std::istreambuf_iterator<char>(in), {}),
        PrivilegedInstallLinux::inlineCommand(PrivilegedInstallLinux::installScript("alice")));
    std::filesystem::remove(handed);
    EXPECT_THAT(
        [&] { installHelperFor("a b", approve); },
        throwsSetupError(SetupError::Kind::badUser, StrEq("Unsupported user name for sudoers.")));
    EXPECT_FALSE(std::filesystem::exists(handed)) << "no prompt for a name sudoers can't hold";

    const std::vector<std::pair<std::string, std::string>> answers{
        {"exit 126", "Setup was cancelled."},
        {"echo 'Error executing command as another user: No authentication agent found.'; exit 127",
         noAgent},
        {"echo 'visudo: syntax error'; exit 1", "visudo: syntax error"},
        {"exit 1", "Setup was cancelled."},
    };
    for (const auto& [body, message] : answers)
        EXPECT_THAT([&] { runAsAdminWith(tool(folder, "pkexec", body), "true", "setup"); },
                    throwsSetupError(SetupError::Kind::failed, StrEq(message)))
            << body;
    EXPECT_THAT([&] { runAsAdminWith((folder.path() / "none").string(), "true", "setup"); },
                throwsSetupError(SetupError::Kind::failed, StrEq(noPkexec)));
}

TEST(DisplaySleep, UsesXsetOrSwayAndOtherwiseSaysWhyNot) {
    TemporaryFolder folder;
    const std::string xset = tool(folder, "xset", "echo \"xset $*\"");
    tool(folder, "swaymsg", "echo \"swaymsg $*\"");
    const std::string path = std::getenv("PATH");
    ::setenv("PATH", folder.path().c_str(), 1);
    struct Case {
        const char* display;
        const char* wayland;
        const char* sway;
        RunResult expected;
    };
    const std::string noWay = "this Wayland desktop offers no way for apps to turn the display off "
                              "(GNOME's and sway's are known)";
    // No session bus, so no GNOME: its way is tried against a mock on the system-bus tests.
    ::setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/lumenor/session_bus", 1);
    for (const Case& c : {
             Case{nullptr, nullptr, nullptr, {1, "there is no X display (DISPLAY is not set)"}},
             Case{":0", nullptr, nullptr, {0, "xset dpms force off"}},
             Case{":0", "wayland-0", nullptr, {1, noWay}},
             Case{nullptr, "wayland-0", "/run/sway.sock", {0, "swaymsg output * dpms off"}},
         }) {
        for (const auto& [name, value] : {std::pair{"DISPLAY", c.display},
                                          {"WAYLAND_DISPLAY", c.wayland},
                                          {"SWAYSOCK", c.sway}}) {
            value ? ::setenv(name, value, 1) : ::unsetenv(name);
        }
        EXPECT_EQ(PowerControl::displaySleepNow(), c.expected) << c.expected.output;
        EXPECT_EQ(PowerControl::displaySleepProblem(),
                  c.expected.code == 0 ? std::nullopt : std::optional(c.expected.output));
    }
    std::filesystem::remove(xset);
    ::setenv("DISPLAY", ":0", 1);
    ::unsetenv("WAYLAND_DISPLAY");
    EXPECT_EQ(PowerControl::displaySleepProblem(),
              "xset is not installed (Debian package x11-xserver-utils)");
    ::setenv("PATH", path.c_str(), 1);
}

} // namespace
