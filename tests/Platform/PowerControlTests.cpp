// Child processes run and drained, and battery and lid readings from stand-in sysfs and procfs
// trees, and the lid detection's override.
#include "Lumenor/Platform/LidSwitch.h"
#include "Lumenor/Platform/PowerControl.h"
#include "Platform/PlatformTestSupport.h"

#include <QTest>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using PowerControl::Battery;
using PowerControl::run;
using PowerControl::RunResult;

RunResult shell(const std::string& script, double timeout = 10) {
    return run("/bin/sh", {"-c", script}, timeout);
}

TEST(Run, ReturnsTheStatusAndBothStreamsDecodedTrimmedAndDrainedOrWhyItCouldNotRun) {
    EXPECT_EQ(run("/nonexistent/lumenor-tool", {}, 5),
              (RunResult{-1, "Couldn't run /nonexistent/lumenor-tool: No such file or directory"}));
    EXPECT_EQ(shell("echo out; echo err >&2; exit 3"), (RunResult{3, "out\nerr"}));
    // Non-breaking and ideographic spaces are white space too; bad UTF-8 becomes U+FFFD.
    EXPECT_EQ(shell("printf '\\302\\240 a\\377b\\303\\343\\200\\200\\n'").output, "a\uFFFDb\uFFFD");
    EXPECT_EQ(run("/bin/echo", {"a  b", "$HOME"}, 5).output, "a  b $HOME");
    EXPECT_NE(shell("kill -9 $$").code, 0);
    // A chatty child is drained, but not a descendant that keeps the pipe open after the shell.
    EXPECT_EQ(shell("head -c 1048576 /dev/zero | tr '\\0' a", 20).output.size(), 1048576u);
    EXPECT_EQ(shell("sleep 5 & echo started", 2), (RunResult{0, "started"}));
    // The child sees no descriptor of ours.
    const int leaked = ::open("/dev/null", O_RDONLY); // deliberately without O_CLOEXEC
    ASSERT_GE(leaked, 3);
    EXPECT_EQ(shell("test -e /proc/self/fd/" + std::to_string(leaked) + " || echo clean"),
              (RunResult{0, "clean"}));
    ::close(leaked);
}

TEST(Run, TimesOutTerminatesAndReapsTheChild) {
    EXPECT_EQ(shell("exec sleep 30", 0.3), (RunResult{-2, "timed out"}));
    // Neither still running nor left as a zombie: this program has no child left at all.
    siginfo_t child{};
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return ::waitid(P_ALL, 0, &child, WEXITED | WNOHANG | WNOWAIT) != 0; }));
}

class PowerSupplies : public ::testing::Test {
protected:
    /// A supply folder with one file per "file=value" word of `attributes`.
    void supply(const std::string& name, const std::string& attributes) {
        std::istringstream words(attributes);
        for (std::string word; words >> word;) {
            const auto equals = word.find('=');
            root.write(name + "/" + word.substr(0, equals), word.substr(equals + 1) + "\n");
        }
    }
    Battery read() const { return PowerControl::battery(root.path()); }

    TemporaryFolder root;
};

TEST_F(PowerSupplies, PercentRoundsHalvesUpAndStopsAtFull) {
    for (const auto& [attributes, percent] : std::vector<std::pair<std::string, int>>{
             {"energy_now=1 energy_full=8", 13},
             {"energy_now=53 energy_full=50", 100},
             {"energy_full=0 charge_now=1 charge_full=3", 33}}) { // charge_* stands in
        supply("BAT0", "type=Battery " + attributes);
        EXPECT_EQ(read().percent, percent) << attributes;
    }
}

TEST_F(PowerSupplies, OnBatteryWithTheLastInternalBatteryAndNoExternalSupplyOnline) {
    EXPECT_EQ(PowerControl::battery(root.path() / "missing"), Battery{});
    supply("AC", "type=Mains online=0");
    EXPECT_EQ(read(), Battery{});
    supply("BAT0", "type=Battery energy_now=20 energy_full=100");
    supply("BAT1", "type=Battery energy_now=70 energy_full=100");
    supply("BAT2", "type=Battery energy_now=12abc energy_full=100");
    supply("BAT3", "type=Battery charge_now=1 charge_full=-5");
    supply("BAT4", "type=Battery energy_now=99999999999999999999 energy_full=1");
    supply("hidpp_battery_0", "type=Battery scope=Device energy_now=5 energy_full=100");
    EXPECT_EQ(read(), (Battery{true, 70}));
    supply("AC", "type=Mains online=yes");
    EXPECT_EQ(read(), (Battery{true, 70}));
    supply("ucsi-source-psy-1", "type=USB online=1");
    EXPECT_EQ(read(), (Battery{false, 70}));
}

TEST(Lid, ClosedOnlyWhenAStateLineSaysSo) {
    TemporaryFolder root;
    EXPECT_FALSE(PowerControl::isLidClosed(root.path() / "missing"));
    root.write("LID0/state", "state:      open\n");
    root.write("LID1/state", "garbage closed\nstate:\n");
    EXPECT_FALSE(PowerControl::isLidClosed(root.path()));
    root.write("LID1/state", "state:      closed\n");
    EXPECT_TRUE(PowerControl::isLidClosed(root.path()));
}

TEST(Lid, DetectedFromAnAcpiLidOrAnInputDeviceWithTheLidSwitchOrTheOverride) {
    // A file under the stand-in root (acpi/..., input/...), and whether it means a lid.
    const std::vector<std::tuple<std::string, std::string, bool>> cases{
        {"acpi/power/PWRF/info", "", false}, // a desktop's power button
        {"input/input3/capabilities/sw", "0\n", false},
        {"input/input4/capabilities/sw", "1 0\n", false}, // bit 0 of another word
        {"input/input5/capabilities/sw", "20 3\n", true}, // SW_LID among others
        {"acpi/lid/LID0/state", "state:      open\n", true}};
    for (const auto& [file, text, lid] : cases) {
        TemporaryFolder root;
        root.write(file, text);
        EXPECT_EQ(LidSwitch::detected(root.path() / "acpi", root.path() / "input"), lid) << file;
    }
    EXPECT_EQ(std::tuple(LidSwitch::assumed("1"), LidSwitch::assumed("0"), LidSwitch::assumed("")),
              std::tuple(std::optional(true), std::optional(false), std::optional<bool>()));
}

} // namespace
