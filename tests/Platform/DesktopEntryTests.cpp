#include "Lumenor/Platform/DesktopEntry.h"
#include "Platform/PlatformTestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

TEST(DesktopEntry, PicksTheBestTranslationTheProgramAndOnlyTheMainGroup) {
    const std::string editor = R"([Desktop Entry]
Type=Application
Name=Text Editor
Name[de]=Texteditor
Name[de_CH]=Texteditor (Schweiz)
Name[sr@latin]=Uređivač
Icon=org.example.Editor
Exec=env GDK_BACKEND=x11 "/opt/My Editor/bin/editor" --new-window %U

[Desktop Action new]
Name=Wrong
Exec=wrong
)";
    EXPECT_EQ(DesktopEntries::parse(editor, "editor.desktop", "de_AT"),
              (DesktopEntry{"editor.desktop", "Texteditor", "org.example.Editor", "editor", true}));
    const auto name = [&](const std::string& locale) {
        return DesktopEntries::parse(editor, "editor.desktop", locale).value().name;
    };
    EXPECT_EQ(name("fr_FR.UTF-8"), "Text Editor");
    EXPECT_EQ(name("de_CH.UTF-8@euro"), "Texteditor (Schweiz)");
    EXPECT_EQ(name("sr_RS@latin"), "Uređivač");
    EXPECT_EQ(DesktopEntries::execProgram("firefox %u"), "firefox");
    EXPECT_EQ(DesktopEntries::execProgram("\"/opt/q\\\"uote/app\" %F"), "app");
    EXPECT_EQ(DesktopEntries::execProgram("env A=1 -u B /usr/bin/tool"), "tool");
    EXPECT_EQ(DesktopEntries::execProgram("env A=1"), "");
}

TEST(DesktopEntry, SkipsWhatIsNotAUsableApplication) {
    const auto parse = [](const std::string& text) {
        return DesktopEntries::parse("[Desktop Entry]\nType=Application\n" + text, "x.desktop", "");
    };
    EXPECT_FALSE(parse("Exec=app\n"));            // no Name
    EXPECT_FALSE(parse("Name=App\n"));            // no Exec
    EXPECT_FALSE(parse("Name=App\nExec=\"\"\n")); // empty program
    EXPECT_FALSE(DesktopEntries::parse("[Desktop Entry]\nType=Link\nName=A\nExec=a\n", "x", ""));
    EXPECT_FALSE(DesktopEntries::parse("Type=Application\nName=A\nExec=a\n", "x", "")); // no group

    for (const std::string flag : {"NoDisplay=true", "Hidden=true", "Terminal=true"}) {
        EXPECT_FALSE(parse("Name=App\nExec=app\n" + flag + "\n").value().isRegular) << flag;
    }
    EXPECT_TRUE(parse("Name=App\nExec=app\nNoDisplay=false\n").value().isRegular);
}

TEST(DesktopEntry, LoadsEachIdOnceFromTheMostImportantFolder) {
    TemporaryFolder home;
    TemporaryFolder system;
    const auto entry = [](const std::string& name) {
        return "[Desktop Entry]\nType=Application\nName=" + name + "\nExec=app\n";
    };
    home.write("applications/app.desktop", entry("Mine"));
    system.write("applications/app.desktop", entry("Theirs"));
    system.write("applications/kde/tool.desktop", entry("Tool"));
    system.write("applications/broken.desktop", entry(""));
    system.write("applications/readme.txt", entry("Text"));

    ::setenv("XDG_DATA_HOME", home.path().c_str(), 1);
    ::setenv("XDG_DATA_DIRS", ("relative/dir:" + system.path().string()).c_str(), 1);
    const auto directories = DesktopEntries::applicationDirectories();
    EXPECT_EQ(directories, (std::vector<std::filesystem::path>{home.path() / "applications",
                                                               system.path() / "applications"}));
    const auto entries = DesktopEntries::load(directories, "");
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].name, "Mine");
    EXPECT_EQ(entries[1].id, "kde-tool.desktop");
}

} // namespace
