#include "Lumenor/UI/LoginItem.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <cstdlib>
#include <fstream>
#include <iterator>

namespace fs = std::filesystem;
using LoginItem::Context;

namespace {

std::string read(const fs::path& path) {
    std::ifstream stream(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
}

class LoginItemTest : public testing::Test {
protected:
    fs::path root() const { return folder.path().toStdString(); }
    Context copyAt(const std::string& executable) const {
        return Context{root() / "config" / "autostart", executable};
    }

    QTemporaryDir folder;
};

TEST_F(LoginItemTest, SwitchesTheAutostartEntryOnAndOff) {
    const Context context = copyAt("/opt/My Apps/Lumenor.app/Contents/MacOS/Lumenor");
    const fs::path entry = LoginItem::entryPath(context);
    EXPECT_EQ(entry.filename(), "com.corvata.lumenor.desktop");
    EXPECT_FALSE(LoginItem::isEnabled(context));

    EXPECT_EQ(LoginItem::set(true, context), std::nullopt);
    const std::string text = read(entry);
    EXPECT_EQ(text.rfind("[Desktop Entry]\n", 0), 0u);
    EXPECT_NE(text.find("\nType=Application\n"), std::string::npos);
    EXPECT_NE(text.find("\nExec=\"/opt/My Apps/Lumenor.app/Contents/MacOS/Lumenor\"\n"),
              std::string::npos);
    EXPECT_TRUE(LoginItem::isEnabled(context));

    // Switching on twice rewrites the same entry; no stray temporary file is left.
    EXPECT_EQ(LoginItem::set(true, context), std::nullopt);
    EXPECT_EQ(std::distance(fs::directory_iterator(context.autostartDirectory), {}), 1);

    EXPECT_EQ(LoginItem::set(false, context), std::nullopt);
    EXPECT_FALSE(fs::exists(entry));
    EXPECT_FALSE(LoginItem::isEnabled(context));
    EXPECT_EQ(LoginItem::set(false, context), std::nullopt); // already off
}

TEST_F(LoginItemTest, OnlyAVisibleEntryForThisCopyCountsAsOn) {
    const Context other = copyAt("/home/me/build/Lumenor.app/Contents/MacOS/Lumenor");
    const Context mine = copyAt("/home/me/Applications/Lumenor.app/Contents/MacOS/Lumenor");
    ASSERT_EQ(LoginItem::set(true, other), std::nullopt);
    EXPECT_FALSE(LoginItem::isEnabled(mine));

    ASSERT_EQ(LoginItem::set(true, mine), std::nullopt);
    EXPECT_TRUE(LoginItem::isEnabled(mine));

    for (const char* off : {"Hidden=true\n", "X-GNOME-Autostart-enabled=false\n"}) {
        ASSERT_EQ(LoginItem::set(true, mine), std::nullopt);
        std::ofstream(LoginItem::entryPath(mine), std::ios::app) << off;
        EXPECT_FALSE(LoginItem::isEnabled(mine)) << off;
    }
}

TEST_F(LoginItemTest, ExecSurvivesEveryCharacterThatNeedsQuoting) {
    // A literal backslash takes four: one for the quoting, doubled for the string value.
    EXPECT_EQ(LoginItem::quotedExec("/a\\b 50%"), "\"/a\\\\\\\\b 50%%\"");

    const std::string nasty = "/x/it's \"$HOME\" `id` \\ 100% #1 (a|b);<>~*?/Lumenor";
    EXPECT_EQ(LoginItem::execProgram(LoginItem::quotedExec(nasty)), nasty);
    EXPECT_EQ(LoginItem::execProgram("/usr/bin/lumenor --flag"), "/usr/bin/lumenor");
    EXPECT_EQ(LoginItem::execProgram("\"/never/closed"), std::nullopt);

    const Context context = copyAt(nasty);
    ASSERT_EQ(LoginItem::set(true, context), std::nullopt);
    EXPECT_TRUE(LoginItem::isEnabled(context));
}

TEST_F(LoginItemTest, RefusesWhatItCannotWriteWithAReason) {
    const Context newline = copyAt("/opt/Lume\nnor/Lumenor");
    EXPECT_TRUE(LoginItem::set(true, newline).has_value());
    EXPECT_FALSE(fs::exists(LoginItem::entryPath(newline)));

    std::ofstream(root() / "config") << "a file where the folder should be";
    const std::optional<std::string> message = LoginItem::set(true, copyAt("/opt/Lumenor"));
    ASSERT_TRUE(message.has_value());
    EXPECT_EQ(message->rfind((root() / "config" / "autostart").string() + ": ", 0), 0u) << *message;
    EXPECT_NE(message->find("Not a directory"), std::string::npos) << *message;
}

TEST_F(LoginItemTest, FollowsXdgConfigHomeAndIgnoresARelativeOne) {
    ::setenv("LUMENOR_HOME", (root() / "home").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (root() / "xdg").c_str(), 1);
    EXPECT_EQ(Context::current().autostartDirectory, root() / "xdg" / "autostart");
    ::setenv("XDG_CONFIG_HOME", "relative/config", 1);
    EXPECT_EQ(Context::current().autostartDirectory, root() / "home" / ".config" / "autostart");
    ::unsetenv("XDG_CONFIG_HOME");
    ::unsetenv("LUMENOR_HOME");
    EXPECT_TRUE(Context::current().executable.is_absolute());
}

TEST_F(LoginItemTest, InstallScriptsMenuEntryStartsTheInstalledCopy) {
    const fs::path build = root() / "build";
    const fs::path home = root() / "it's $home `x` 100%";
    fs::create_directories(build / "Lumenor.app" / "Contents" / "MacOS");
    std::ofstream(build / "Lumenor.app" / "Contents" / "MacOS" / "Lumenor") << "new";
    fs::permissions(build / "Lumenor.app" / "Contents" / "MacOS" / "Lumenor", fs::perms::owner_all);
    const fs::path installed = home / "Applications" / "Lumenor.app" / "Contents" / "MacOS";
    fs::create_directories(installed);
    std::ofstream(installed / "Stale") << "from an older copy";

    ::setenv("LUMENOR_HOME", home.c_str(), 1);
    ::unsetenv("XDG_DATA_HOME");
    const std::string command =
        "sh '" LUMENOR_SOURCE_DIR "/scripts/install' '" + build.string() + "' >/dev/null";
    const int status = std::system(command.c_str());
    ::unsetenv("LUMENOR_HOME");
    ASSERT_EQ(status, 0);

    EXPECT_EQ(read(installed / "Lumenor"), "new");
    EXPECT_FALSE(fs::exists(installed / "Stale")); // the older copy was replaced
    std::ifstream entry(home / ".local/share/applications/com.corvata.lumenor.desktop");
    std::string line;
    while (std::getline(entry, line) && line.rfind("Exec=", 0) != 0) {
    }
    EXPECT_EQ(LoginItem::execProgram(line.substr(5)), (installed / "Lumenor").string()) << line;
}

} // namespace
