// Without any D-Bus: every bus operation fails the way it is defined to, and the app goes on.
#include "Lumenor/Platform/LinuxWorkspace.h"
#include "Lumenor/Platform/LogindInhibitors.h"
#include "Lumenor/Platform/PowerControl.h"
#include "Platform/PlatformTestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

TEST(NoBus, AssertionsStayUnheldSleepFailsAndTheRestCarriesOn) {
    // Set before QtDBus first opens a bus, which it then keeps for the whole program.
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/lumenor/system_bus", 1);
    ::setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/lumenor/session_bus", 1);
    ensureApplication();
    for (const std::string& type :
         {PowerControl::systemAssertionType, PowerControl::displayAssertionType}) {
        const auto assertion = PowerControl::makeAssertion(type, "Lumenor test");
        assertion->set(true);
        EXPECT_EQ(assertion->id(), 0u) << type;
        assertion->set(false);
    }
    const PowerControl::RunResult result = PowerControl::sleepNow();
    EXPECT_EQ(result.code, 1);
    EXPECT_EQ(result.output.rfind("Couldn't suspend: ", 0), 0u) << result.output;
    PowerControl::wakeDisplay();
    EXPECT_FALSE(PowerControl::listInhibitors().has_value());
    LinuxWorkspace workspace; // listens for the end of sleep on a bus that is not there
    EXPECT_TRUE(workspace.fileExists("/"));
}

} // namespace
