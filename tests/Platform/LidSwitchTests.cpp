// Lid detection from stand-in procfs and sysfs trees, and its override.
#include "Lumenor/Platform/LidSwitch.h"
#include "Platform/PlatformTestSupport.h"

#include <gtest/gtest.h>

TEST(LidSwitch, AnAcpiLidOrAnInputDeviceWithTheLidSwitchAndTheOverride) {
    const struct {
        const char* file; // under the stand-in root: acpi/... or input/...
        const char* text;
        bool lid;
    } cases[] = {
        {"acpi/power/PWRF/info", "", false}, // a desktop's power button
        {"input/input3/capabilities/sw", "0\n", false},
        {"input/input4/capabilities/sw", "1 0\n", false}, // bit 0 of another word
        {"input/input5/capabilities/sw", "20 3\n", true}, // SW_LID among others
        {"acpi/lid/LID0/state", "state:      open\n", true},
    };
    for (const auto& [file, text, lid] : cases) {
        TemporaryFolder root;
        root.write(file, text);
        EXPECT_EQ(LidSwitch::detected(root.path() / "acpi", root.path() / "input"), lid) << file;
    }
    EXPECT_FALSE(LidSwitch::detected("/nonexistent", "/nonexistent"));
    EXPECT_EQ(LidSwitch::assumed("1"), true);
    EXPECT_EQ(LidSwitch::assumed("0"), false);
    EXPECT_EQ(LidSwitch::assumed("yes"), std::nullopt);
}
