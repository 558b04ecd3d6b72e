// The administrator prompt with a stand-in dialog tool, and turning the display off.
#include "Lumenor/Platform/PowerControl.h"
#include "Lumenor/Platform/PowerControlDetail.h"
#include "LumenorCore/PrivilegedInstall.h"
#include "Platform/PlatformTestSupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>

namespace {

using PowerControl::RunResult;
using PowerControl::SetupError;
using PowerControl::detail::installHelperFor;
using PowerControl::detail::runAsAdminWith;
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

TEST(Setup, WithoutTheDialogToolSaysWhatIsMissingAndUnsafeUsersGetNoPrompt) {
    const auto missing = throwsSetupError(
        SetupError::Kind::failed, StrEq("Lumenor can't ask for administrator approval on this "
                                        "system: /usr/bin/osascript is missing."));
    EXPECT_THAT([] { PowerControl::runAsAdmin("true", "Lumenor test"); }, missing);
    EXPECT_THAT(
        [] { installHelperFor("root\nALL", 10); },
        throwsSetupError(SetupError::Kind::badUser, StrEq("Unsupported user name for sudoers.")));
}

TEST(Setup, HandsTheScriptToTheDialogAsOneAppleScriptCommand) {
    TemporaryFolder folder;
    // This dialog refuses with its arguments as its text.
    const std::string echo = tool(folder, "echo", "printf '%s|' \"$@\"; exit 1");
    EXPECT_THAT([&] { runAsAdminWith(echo, "echo hi", "Lumenor will remove it."); },
                throwsSetupError(SetupError::Kind::failed,
                                 StrEq("-e|do shell script \"" +
                                       PrivilegedInstall::inlineCommand("echo hi") +
                                       "\" with prompt \"Lumenor will remove it.\" with "
                                       "administrator privileges|")));
    // A prompt cannot end the string literal it is placed in.
    EXPECT_THAT([&] { runAsAdminWith(echo, "true", "say \"hi\\"); },
                throwsSetupError(SetupError::Kind::failed,
                                 HasSubstr("with prompt \"say \\\"hi\\\\\" with")));
    // A refusal without a text is a cancel; approval is silent.
    EXPECT_THAT([&] { runAsAdminWith(tool(folder, "no", "exit 1"), "true", "p"); },
                throwsSetupError(SetupError::Kind::failed, StrEq("Setup was cancelled.")));
    EXPECT_NO_THROW(runAsAdminWith(tool(folder, "yes", "exit 0"), "true", "p"));
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
