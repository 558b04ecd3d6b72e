// Battery and lid readings from stand-in sysfs and procfs trees.
#include "Lumenor/Platform/PowerControl.h"
#include "Platform/PlatformTestSupport.h"

#include <gtest/gtest.h>

namespace {

using PowerControl::Battery;

class PowerSupplies : public ::testing::Test {
protected:
    /// A supply folder with one file per attribute.
    void supply(const std::string& name, const std::map<std::string, std::string>& attributes) {
        for (const auto& [file, value] : attributes) {
            root.write(name + "/" + file, value + "\n");
        }
    }
    void battery(const std::string& name, int64_t now, int64_t full,
                 const std::string& prefix = "energy") {
        supply(name, {{"type", "Battery"},
                      {prefix + "_now", std::to_string(now)},
                      {prefix + "_full", std::to_string(full)}});
    }
    Battery read() const { return PowerControl::battery(root.path()); }

    TemporaryFolder root;
};

TEST_F(PowerSupplies, NoBatteryOrNoFolderReadsAsUnknownOnMains) {
    EXPECT_EQ(PowerControl::battery(root.path() / "missing"), Battery{});
    supply("AC", {{"type", "Mains"}, {"online", "0"}});
    EXPECT_EQ(read(), Battery{});
}

TEST_F(PowerSupplies, PercentRoundsHalvesAwayFromZero) {
    const std::vector<std::tuple<int64_t, int64_t, int64_t>> cases = {
        {1, 3, 33}, {1, 8, 13}, {2, 3, 67}, {0, 5, 0}, {50000000, 50000000, 100}};
    for (const auto& [now, full, percent] : cases) {
        battery("BAT0", now, full);
        EXPECT_EQ(read().percent, percent) << now << "/" << full;
    }
    battery("BAT0", 1, 3, "charge");
    root.write("BAT0/energy_full", "0\n");
    EXPECT_EQ(read().percent, 33) << "charge_* stands in for an unusable energy_*";
    battery("BAT0", 53, 50);
    EXPECT_EQ(read().percent, 100) << "a battery above its last full charge reads as full";
}

TEST_F(PowerSupplies, OnBatteryUnlessAnExternalSupplyIsOnline) {
    battery("BAT0", 40, 100);
    supply("AC", {{"type", "Mains"}, {"online", "0"}});
    EXPECT_EQ(read(), (Battery{true, 40}));
    supply("ucsi-source-psy-1", {{"type", "USB"}, {"online", "1"}});
    EXPECT_EQ(read(), (Battery{false, 40}));
}

TEST_F(PowerSupplies, LastInternalBatteryWinsAndDevicesAreIgnored) {
    battery("BAT0", 20, 100);
    battery("BAT1", 70, 100);
    supply("hidpp_battery_0", {{"type", "Battery"},
                               {"scope", "Device"},
                               {"capacity", "5"},
                               {"energy_now", "5"},
                               {"energy_full", "100"}});
    EXPECT_EQ(read().percent, 70);
    battery("BAT2", 1, 0); // no usable capacity: does not replace the earlier value
    EXPECT_EQ(read(), (Battery{true, 70}));
}

TEST_F(PowerSupplies, GarbageIsSkipped) {
    supply("BAT0", {{"type", "Battery"}, {"energy_now", "12abc"}, {"energy_full", "100"}});
    supply("BAT1", {{"type", "Battery"}, {"charge_now", ""}, {"charge_full", "-5"}});
    supply("BAT2",
           {{"type", "Battery"}, {"energy_now", "99999999999999999999999"}, {"energy_full", "1"}});
    supply("AC", {{"type", "Mains"}, {"online", "yes"}});
    std::filesystem::create_directories(root.path() / "BAT3" / "energy_now");
    root.write("BAT3/type", "Battery");
    root.write("stray-file", "Battery");
    EXPECT_EQ(read(), (Battery{true, std::nullopt}));
}

TEST(Lid, ClosedOnlyWhenAStateLineSaysSo) {
    TemporaryFolder root;
    EXPECT_FALSE(PowerControl::isLidClosed(root.path() / "missing"));
    root.write("LID0/state", "state:      open\n");
    EXPECT_FALSE(PowerControl::isLidClosed(root.path()));
    root.write("LID1/state", "garbage closed\nstate:\n");
    EXPECT_FALSE(PowerControl::isLidClosed(root.path()));
    root.write("LID1/state", "state:      closed\n");
    EXPECT_TRUE(PowerControl::isLidClosed(root.path()));
}

} // namespace
