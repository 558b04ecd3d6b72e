// Battery and lid readings from stand-in sysfs and procfs trees.
#include "Lumenor/Platform/PowerControl.h"
#include "Platform/PlatformTestSupport.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

using PowerControl::Battery;

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
             {"energy_now=2 energy_full=3", 67},
             {"energy_now=0 energy_full=5", 0},
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

} // namespace
