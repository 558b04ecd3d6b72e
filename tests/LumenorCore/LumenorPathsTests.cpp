#include "LumenorCore/LumenorPaths.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

// Only these tests run in this process, so they may change its environment.
TEST(LumenorPathsTest, PlacesEverythingUnderTheSupportDirectoryOfTheOverrideOrTheAccount) {
    const std::string home = "/tmp/lumenor paths test/user1";
    ::setenv("LUMENOR_HOME", home.c_str(), 1);
    const std::string support = home + "/Library/Application Support/Lumenor";
    EXPECT_EQ(LumenorPaths::homeDirectory(), home);
    EXPECT_EQ(LumenorPaths::socketPath(), support + "/lumenor.sock");
    EXPECT_EQ(LumenorPaths::stateFile().string(), support + "/state.json");
    EXPECT_EQ(LumenorPaths::logFile().string(), support + "/lumenor.log");
    // Naming a place never creates it.
    EXPECT_FALSE(std::filesystem::exists("/tmp/lumenor paths test"));

    // An empty override falls back to the account database, not to HOME.
    ::setenv("LUMENOR_HOME", "", 1);
    ::setenv("HOME", "/nonexistent/misleading-home", 1);
    EXPECT_EQ(LumenorPaths::supportDirectory(),
              std::filesystem::path(::getpwuid(::getuid())->pw_dir) /
                  "Library/Application Support/Lumenor");
}
