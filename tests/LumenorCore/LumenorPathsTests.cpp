#include "LumenorCore/LumenorPaths.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <pwd.h>
#include <unistd.h>

namespace {

// Sets an environment variable for one test and puts the old value back.
class ScopedEnvironment {
public:
    ScopedEnvironment(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name))
            old_ = old;
        ::setenv(name, value.c_str(), 1);
    }
    ~ScopedEnvironment() {
        if (old_)
            ::setenv(name_, old_->c_str(), 1);
        else
            ::unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

} // namespace

TEST(LumenorPathsTest, PlacesEverythingUnderTheSupportDirectory) {
    const std::string home = "/tmp/lumenor paths test/user1";
    ScopedEnvironment override("LUMENOR_HOME", home);
    const std::string support = home + "/Library/Application Support/Lumenor";
    EXPECT_EQ(LumenorPaths::homeDirectory(), home);
    EXPECT_EQ(LumenorPaths::supportDirectory().string(), support);
    EXPECT_EQ(LumenorPaths::socketPath(), support + "/lumenor.sock");
    EXPECT_EQ(LumenorPaths::stateFile().string(), support + "/state.json");
    EXPECT_EQ(LumenorPaths::logFile().string(), support + "/lumenor.log");
    // Naming a place never creates it.
    EXPECT_FALSE(std::filesystem::exists("/tmp/lumenor paths test"));

    EXPECT_EQ(LumenorPaths::sudoersPath, "/etc/sudoers.d/lumenor");
    EXPECT_EQ(LumenorPaths::pmset, "/usr/bin/pmset");
    EXPECT_EQ(LumenorPaths::bundleIdentifier, "com.corvata.lumenor");
}

TEST(LumenorPathsTest, EmptyOverrideFallsBackToTheAccountDatabaseNotHOME) {
    ScopedEnvironment emptyOverride("LUMENOR_HOME", "");
    ScopedEnvironment misleadingHome("HOME", "/nonexistent/misleading-home");
    const passwd* account = ::getpwuid(::getuid());
    const std::string expected =
        account != nullptr && account->pw_dir != nullptr && *account->pw_dir != '\0'
            ? account->pw_dir
            : "/nonexistent/misleading-home";
    EXPECT_EQ(LumenorPaths::homeDirectory(), expected);
    EXPECT_EQ(LumenorPaths::supportDirectory(),
              std::filesystem::path(expected) / "Library/Application Support/Lumenor");
}
