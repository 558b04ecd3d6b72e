// Lid detection from stand-in procfs and sysfs trees, and its override.
#include "Lumenor/Platform/LidSwitch.h"
#include "Platform/PlatformTestSupport.h"

#include <gtest/gtest.h>

TEST(LidSwitch, AnAcpiLidOrAnInputDeviceWithTheLidSwitchAndTheOverride) {
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
