// Without any D-Bus: the administrator prompt with a stand-in pkexec, the display turned off by
// tools, a set of inhibitors with scripted parts, and every bus operation failing the way it is
// defined to while the app goes on.
#include "Lumenor/Platform/DBusCall.h"
#include "Lumenor/Platform/InhibitorSet.h"
#include "Lumenor/Platform/LinuxWorkspace.h"
#include "Lumenor/Platform/LogindInhibitors.h"
#include "Lumenor/Platform/PowerControl.h"
#include "Lumenor/Platform/PowerControlDetail.h"
#include "Lumenor/Platform/PowerPlatform.h"
#include "LumenorCore/PrivilegedInstallLinux.h"
#include "LumenorCore/UnixSocket.h"
#include "Platform/PlatformTestSupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/socket.h>
#include <tuple>

namespace {

// Set before QtDBus first opens a bus, which it then keeps for the whole program.
[[maybe_unused]] const int noBus =
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/lumenor/system_bus", 1) +
    ::setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/lumenor/session_bus", 1);

using PowerControl::SetupError;
using namespace PowerControl::detail;
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

/// Why no administrator prompt can be shown, and the way around it.
std::string cannotAsk(const std::string& why) {
    return "Lumenor can't ask for administrator approval here: " + why +
           ". Run this in a terminal instead: lumenor setup --print-script | sudo sh";
}
const std::string noAgent = cannotAsk("no polkit authentication agent is running");
const std::string noPolkit =
    cannotAsk("the system's authorization service (polkitd) isn't running");
const std::string noPkexec = cannotAsk("pkexec is not installed");

TEST(Setup, RefusesBeforeAnyPromptWhenItCannotWork) {
    TemporaryFolder folder;
    const std::string pkexec = tool(folder, "pkexec", "exit 0"),
                      sudo = tool(folder, "sudo", "exit 0"),
                      visudo = tool(folder, "visudo", "exit 0"),
                      absent = (folder.path() / "absent").string();
    const SetupTools present{pkexec, sudo, visudo};
    EXPECT_EQ(setupBlockerFor(present, "alice", true), std::nullopt);
    const auto missing = [&](const std::string& name) {
        return "Scheduled wake needs " + name + ", and " + absent +
               " is missing: install the sudo package first.";
    };
    const std::vector<std::tuple<SetupTools, std::string, bool, bool, std::string>> cases{
        {present, "Defaults", true, true, "Unsupported user name for sudoers."},
        {{pkexec, absent, visudo}, "alice", true, true, missing("sudo")},
        {{pkexec, sudo, absent}, "alice", true, true, missing("visudo")},
        {{absent, sudo, visudo}, "alice", true, true, noPkexec},
        {present, "alice", true, false, noPolkit},
        {present, "alice", false, true, noAgent},
    };
    for (const auto& [tools, user, session, polkit, message] : cases)
        EXPECT_EQ(setupBlockerFor(tools, user, session, polkit), message) << message;
}

TEST(Setup, HandsTheInstallScriptToPkexecAndReadsItsAnswer) {
    TemporaryFolder folder;
    const auto handed = folder.path() / "handed";
    const std::string approve =
        tool(folder, "approve",
             "[ \"$1 $2\" = '/bin/sh -c' ] || exit 9\nprintf '%s' \"$3\" > " + handed.string());
    installHelperFor("alice", approve);
    EXPECT_EQ(readFile(handed), PrivilegedInstallLinux::inlineCommand(
                                    PrivilegedInstallLinux::installScript("alice")));
    std::filesystem::remove(handed);
    EXPECT_THAT(
        [&] { installHelperFor("a b", approve); },
        throwsSetupError(SetupError::Kind::badUser, StrEq("Unsupported user name for sudoers.")));
    EXPECT_FALSE(std::filesystem::exists(handed)) << "no prompt for a name sudoers can't hold";

    const std::vector<std::pair<std::string, std::string>> answers{
        {"exit 126", "Setup was cancelled."},
        {"echo 'Error executing command as another user: No authentication agent found.'; exit 127",
         noAgent},
        {"echo 'Error getting authority: Could not connect: No such file'; exit 127", noPolkit},
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

TEST(DisplaySleep, UsesXsetWhereTheMonitorGoesOffAndOtherwiseSaysWhyNot) {
    TemporaryFolder folder;
    // The stand-in reports the monitor as $MONITOR says.
    const std::string xset = tool(
        folder, "xset", "if [ \"$1\" = q ]; then echo \"$MONITOR\"; else echo \"xset $*\"; fi");
    const std::string path = std::getenv("PATH");
    ::setenv("PATH", folder.path().c_str(), 1);
    ::setenv("MONITOR", "  Monitor is Off", 1);
    const std::string noWay = "this Wayland desktop offers no way for apps to turn the display off "
                              "that input turns on again (GNOME's is known)";
    // No session bus, so no GNOME: its way is tried against a mock on the system-bus tests.
    for (const auto& [display, wayland, expected] :
         std::vector<std::tuple<const char*, const char*, PowerControl::RunResult>>{
             {nullptr, nullptr, {1, "there is no X display (DISPLAY is not set)"}},
             {":0", "wayland-0", {1, noWay}},
             {":0", nullptr, {0, "xset dpms force off"}},
         }) {
        for (const auto& [name, value] :
             {std::pair{"DISPLAY", display}, {"WAYLAND_DISPLAY", wayland}})
            value ? ::setenv(name, value, 1) : ::unsetenv(name);
        EXPECT_EQ(PowerControl::displaySleepNow(), expected) << expected.output;
        EXPECT_EQ(PowerControl::displaySleepProblem(),
                  expected.code == 0 ? std::nullopt : std::optional(expected.output));
    }
    // A server without DPMS takes the command and leaves the monitor on.
    ::setenv("MONITOR", "  Monitor is On", 1);
    EXPECT_EQ(PowerControl::displaySleepNow(),
              (PowerControl::RunResult{
                  1, "the X server did not turn the display off (it has no working DPMS)"}));
    std::filesystem::remove(xset); // the last case left DISPLAY set
    EXPECT_EQ(PowerControl::displaySleepProblem(),
              "xset is not installed (Debian package x11-xserver-utils)");
    ::setenv("PATH", path.c_str(), 1);
}

/// A part that notes what it is asked to do, and refuses with `refusal` if it has one.
struct Scripted : Inhibitor {
    Scripted(std::string part, std::optional<std::string> refusal,
             std::vector<std::string>& journal)
        : part(std::move(part)), refusal(std::move(refusal)), journal(journal) {}
    std::string name() const override { return part; }
    std::optional<std::string> take(const std::string&) override {
        journal.push_back("take " + part);
        return refusal;
    }
    void give() override { journal.push_back("give " + part); }
    std::string part;
    std::optional<std::string> refusal;
    std::vector<std::string>& journal;
};

// When nothing can be held, the first part's reason is the failure: the test below sees that.
TEST(InhibitorSet, HeldWhileAnyPartIsAndGivesBackOnlyWhatItTook) {
    std::vector<std::string> journal;
    std::vector<std::unique_ptr<Inhibitor>> parts;
    parts.push_back(std::make_unique<Scripted>("logind", "no logind", journal));
    parts.push_back(std::make_unique<Scripted>("portal", std::nullopt, journal));
    InhibitorSet set(PowerControl::systemAssertionType, "why", std::move(parts));
    set.set(true);
    EXPECT_NE(set.id(), 0u);
    EXPECT_EQ(set.heldBy(), std::vector<std::string>{"portal"});
    set.set(false);
    EXPECT_EQ(journal, (std::vector<std::string>{"take logind", "take portal", "give portal"}));
}

TEST(NoBus, AssertionsStayUnheldSleepFailsAndTheRestCarriesOn) {
    ensureApplication();
    const std::string noLogind = "no login manager (logind) on the system bus";
    for (const auto& [type, failure] :
         {std::pair{PowerControl::systemAssertionType, noLogind},
          {PowerControl::displayAssertionType, "no screen saver service on the session bus"}}) {
        const auto assertion = PowerControl::makeAssertion(type, "Lumenor test");
        assertion->set(true);
        EXPECT_EQ(assertion->id(), 0u) << type;
        EXPECT_TRUE(assertion->heldBy().empty());
        EXPECT_EQ(assertion->failure(), failure);
    }
    EXPECT_EQ(PowerControl::sleepNow(), (PowerControl::RunResult{1, noLogind}));
    EXPECT_EQ(PowerControl::sleepProblem(), noLogind);
    PowerControl::wakeDisplay();
    EXPECT_FALSE(PowerControl::listInhibitors().has_value());
    SystemPowerPlatform platform;
    EXPECT_FALSE(platform.lidAvailable());
    EXPECT_EQ(platform.takeLid(), PowerResult::failed(noLogind));
    if (!platform.wakeHelperInstalled()) {
        EXPECT_EQ(platform.cancelWakeAlarm(),
                  PowerResult::failed("the wake helper is not installed"));
    }
    LinuxWorkspace workspace; // listens on buses that are not there, and must not fail
    workspace.watchBattery(true);
}

TEST(NoBus, ABusThatAcceptsButNeverAnswersIsGivenUpOnAndAMissingOneIsLeftToQtDBus) {
    TemporaryFolder folder("lumenor bus"); // a space, percent-escaped in the address
    const std::string path = (folder.path() / "bus").string();
    const UnixSocket::Descriptor silent(::socket(AF_UNIX, SOCK_STREAM, 0));
    const sockaddr_un address = UnixSocket::address(path, "bind");
    ASSERT_EQ(::bind(silent.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(silent.get(), 4), 0); // connections wait in its backlog, unanswered
    const std::chrono::milliseconds wait(200);
    const QString escaped = QString::fromStdString(path).replace(' ', "%20");
    EXPECT_FALSE(DBusCall::answers("unix:path=" + escaped + ",guid=1;tcp:host=x", wait));
    for (const char* elsewhere : {"unix:path=/nonexistent/bus", "tcp:host=localhost,port=1"})
        EXPECT_TRUE(DBusCall::answers(elsewhere, wait)) << elsewhere;
}

} // namespace
