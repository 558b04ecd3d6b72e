#include "LumenorCore/LumenorPaths.h"
#include "ShellSandbox.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

/// A fresh temporary home, set as LUMENOR_HOME, without XDG variables.
struct TemporaryHome : TemporaryFolder {
    TemporaryHome() {
        ::setenv("LUMENOR_HOME", path().c_str(), 1);
        ::unsetenv("XDG_STATE_HOME");
        ::unsetenv("XDG_CONFIG_HOME");
    }
};

} // namespace

// Only these tests run in this process, so they may change its environment.
TEST(LumenorPathsTest, PlacesFollowXdgStateHomeOrTheHomeOfTheOverrideOrTheAccount) {
    const std::string home = "/tmp/lumenor paths test/user1";
    ::setenv("LUMENOR_HOME", home.c_str(), 1);
    ::unsetenv("XDG_CONFIG_HOME");
    for (const char* state : {static_cast<const char*>(nullptr), "", "relative/state"}) {
        state ? ::setenv("XDG_STATE_HOME", state, 1) : ::unsetenv("XDG_STATE_HOME");
        EXPECT_EQ(LumenorPaths::supportDirectory(), home + "/.local/state/lumenor");
    }
    ::setenv("XDG_STATE_HOME", "/run/state", 1);
    EXPECT_EQ(LumenorPaths::socketPath(), "/run/state/lumenor/lumenor.sock");
    EXPECT_EQ(LumenorPaths::settingsFile(), home + "/.config/Lumenor/Lumenor.conf");
    ::setenv("XDG_CONFIG_HOME", "/etc/xdg-user", 1);
    EXPECT_EQ(LumenorPaths::settingsFile(), "/etc/xdg-user/Lumenor/Lumenor.conf");
    // Naming a place never creates it.
    EXPECT_FALSE(fs::exists("/tmp/lumenor paths test"));

    // An empty override falls back to HOME, as Qt and GLib take it, and an empty HOME to the
    // account database.
    ::unsetenv("XDG_STATE_HOME");
    ::setenv("LUMENOR_HOME", "", 1);
    ::setenv("HOME", "/elsewhere/home", 1);
    EXPECT_EQ(LumenorPaths::supportDirectory(), "/elsewhere/home/.local/state/lumenor");
    ::setenv("HOME", "", 1);
    EXPECT_EQ(LumenorPaths::supportDirectory(),
              fs::path(::getpwuid(::getuid())->pw_dir) / ".local/state/lumenor");
}

TEST(LumenorPathsTest, CreatesOwnerOnlyWhateverTheUmaskAndNamesWhatIsInTheWay) {
    TemporaryHome home;
    const mode_t umask = ::umask(0);
    LumenorPaths::createPrivateFile(LumenorPaths::settingsFile());
    LumenorPaths::createPrivateDirectory(LumenorPaths::supportDirectory());
    ::umask(umask);
    EXPECT_EQ(modeOf(LumenorPaths::settingsFile()), 0600u);
    for (const fs::path& folder :
         {home.path() / ".config", LumenorPaths::settingsFile().parent_path(),
          home.path() / ".local/state", LumenorPaths::supportDirectory()})
        EXPECT_EQ(modeOf(folder), 0700u) << folder;
    // An existing, looser settings file is tightened and keeps its contents.
    writeFile(LumenorPaths::settingsFile(), "[General]\nkeepDisplayOn=true\n");
    fs::permissions(LumenorPaths::settingsFile(), fs::perms(0644));
    LumenorPaths::createPrivateFile(LumenorPaths::settingsFile());
    EXPECT_EQ(modeOf(LumenorPaths::settingsFile()), 0600u);
    EXPECT_EQ(readFile(LumenorPaths::settingsFile()), "[General]\nkeepDisplayOn=true\n");

    // A loose folder of ours is tightened; another user's is refused (root can make one).
    fs::permissions(LumenorPaths::supportDirectory(), fs::perms::all);
    LumenorPaths::createPrivateDirectory(LumenorPaths::supportDirectory());
    EXPECT_EQ(modeOf(LumenorPaths::supportDirectory()), 0700u);
    const fs::path blocked = home.path() / "blocked";
    writeFile(blocked, "a file");
    std::vector<std::pair<fs::path, std::string>> failures = {
        {blocked / "lumenor", "a file is in the way"},
        {home.path() / std::string(300, 'x'), "path too long"},
    };
    if (::chown(LumenorPaths::supportDirectory().c_str(), 65534, 65534) == 0)
        failures.emplace_back(LumenorPaths::supportDirectory(), "it belongs to another user");
    for (const auto& [folder, cause] : failures) {
        try {
            LumenorPaths::createPrivateDirectory(folder);
            ADD_FAILURE() << folder << " was created";
        } catch (const fs::filesystem_error& error) {
            EXPECT_EQ(LumenorPaths::describeFailure(error.code()), cause) << folder;
        }
    }
    // A FIFO or a link where a file should be is refused at once, never waited on or followed.
    ASSERT_EQ(::mkfifo((home.path() / "fifo").c_str(), 0600), 0);
    fs::create_symlink(blocked, home.path() / "link");
    for (const auto& [name, cause] : {std::pair{"fifo", "it is not a regular file"},
                                      std::pair{"link", "a symbolic link is in the way"}}) {
        EXPECT_EQ(LumenorPaths::openRegularFile(home.path() / name, O_WRONLY | O_APPEND), -1);
        EXPECT_EQ(LumenorPaths::describeFailure({errno, std::system_category()}), cause);
    }
}

TEST(LumenorPathsTest, MovesTheEarlierLogAndStateOverWithoutLosingAnything) {
    TemporaryHome home;
    const fs::path legacy = LumenorPaths::legacySupportDirectory();
    writeFile(legacy / "lumenor.log", "2026-01-01T00:00:00Z old\n");
    writeFile(legacy / "state.json", "{\"old\":1}");
    writeFile(LumenorPaths::supportDirectory() / "lumenor.log", "2026-02-01T00:00:00Z new\n");
    writeFile(LumenorPaths::supportDirectory() / "state.json", "{\"new\":1}");
    // A link planted where the temporary file goes is replaced, not written through.
    writeFile(home.path() / "victim", "untouched");
    fs::create_symlink(home.path() / "victim", LumenorPaths::logFile().string() + ".moving");
    EXPECT_TRUE(LumenorPaths::migrateLegacySupport().empty());
    EXPECT_EQ(readFile(home.path() / "victim"), "untouched");
    EXPECT_EQ(readFile(LumenorPaths::logFile()),
              "2026-01-01T00:00:00Z old\n2026-02-01T00:00:00Z new\n");
    EXPECT_EQ(modeOf(LumenorPaths::logFile()), 0600u);
    EXPECT_EQ(readFile(LumenorPaths::stateFile()), "{\"new\":1}");
    EXPECT_EQ(readFile(LumenorPaths::supportDirectory() / "state-earlier.json"), "{\"old\":1}");
    EXPECT_FALSE(fs::exists(home.path() / "Library")) << "emptied folders go";

    // A folder with something else in it stays; a FIFO is not read (it would block), but named.
    writeFile(legacy / "notes.txt", "mine");
    ASSERT_EQ(::mkfifo((legacy / "lumenor.log").c_str(), 0600), 0);
    EXPECT_EQ(LumenorPaths::migrateLegacySupport(),
              std::vector<std::string>{"Couldn't move " + (legacy / "lumenor.log").string() +
                                       ": it is not a regular file"});
    EXPECT_EQ(readFile(legacy / "notes.txt"), "mine");
}
