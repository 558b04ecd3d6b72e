// Without any D-Bus: every bus operation fails the way it is defined to, and the app goes on.
#include "Lumenor/Platform/LinuxWorkspace.h"
#include "Lumenor/Platform/PowerControl.h"
#include "Platform/PlatformTestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

class NoBusEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        // Set before QtDBus first opens a bus, which it then keeps for the whole program.
        ::setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/lumenor/system_bus", 1);
        ::setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/lumenor/session_bus", 1);
        ensureApplication();
    }
};

const auto* const environment = ::testing::AddGlobalTestEnvironment(new NoBusEnvironment);

TEST(NoBus, AssertionsStayUnheldAndKeepTrying) {
    for (const std::string& type :
         {PowerControl::systemAssertionType, PowerControl::displayAssertionType}) {
        const auto assertion = PowerControl::makeAssertion(type, "Lumenor test");
        EXPECT_EQ(assertion->type(), type);
        assertion->set(true);
        EXPECT_EQ(assertion->id(), 0u) << type;
        assertion->set(true);
        EXPECT_EQ(assertion->id(), 0u) << type;
        assertion->set(false);
    }
}

TEST(NoBus, SleepFailsWithAReasonAndWakeAndWorkspaceCarryOn) {
    const PowerControl::RunResult result = PowerControl::sleepNow();
    EXPECT_NE(result.code, 0);
    EXPECT_FALSE(result.output.empty());
    PowerControl::wakeDisplay();
    LinuxWorkspace workspace;
    EXPECT_TRUE(workspace.fileExists("/"));
}

} // namespace
