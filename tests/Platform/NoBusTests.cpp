// Without any D-Bus: every bus operation fails the way it is defined to, and the app goes on.
#include "Lumenor/Platform/LinuxWorkspace.h"
#include "Lumenor/Platform/LogindInhibitors.h"
#include "Lumenor/Platform/PowerControl.h"
#include "Lumenor/Platform/PowerPlatform.h"
#include "Platform/PlatformTestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

TEST(NoBus, AssertionsStayUnheldSleepFailsAndTheRestCarriesOn) {
    // Set before QtDBus first opens a bus, which it then keeps for the whole program.
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/lumenor/system_bus", 1);
    ::setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/lumenor/session_bus", 1);
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
        assertion->set(false);
    }
    EXPECT_EQ(PowerControl::sleepNow(), (PowerControl::RunResult{1, noLogind}));
    EXPECT_EQ(PowerControl::sleepProblem(), noLogind);
    PowerControl::wakeDisplay();
    EXPECT_FALSE(PowerControl::listInhibitors().has_value());
    SystemPowerPlatform platform;
    EXPECT_FALSE(platform.lidAvailable());
    EXPECT_EQ(platform.takeLid(), PowerResult::failed(noLogind));
    EXPECT_EQ(platform.renewLid(), PowerResult::failed("the lid is not held"));
    if (!platform.wakeHelperInstalled()) {
        EXPECT_EQ(platform.cancelWakeAlarm(),
                  PowerResult::failed("the wake helper is not installed"));
    }
    LinuxWorkspace workspace; // listens on buses that are not there
    workspace.watchBattery(true);
    EXPECT_TRUE(workspace.fileExists("/"));
}

} // namespace
