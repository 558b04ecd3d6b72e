#include "Lumenor/Platform/DesktopEntry.h"
#include "Platform/PlatformTestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

const std::string editor = R"([Desktop Entry]
# comment
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

TEST(DesktopEntry, PicksTheBestTranslation) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", "Text Editor"},
        {"C", "Text Editor"},
        {"fr_FR.UTF-8", "Text Editor"},
        {"de_DE.UTF-8", "Texteditor"},
        {"de_CH.UTF-8@euro", "Texteditor (Schweiz)"},
        {"sr_RS@latin", "Uređivač"}};
    for (const auto& [locale, name] : cases) {
        const auto entry = DesktopEntries::parse(editor, "editor.desktop", locale);
        ASSERT_TRUE(entry) << locale;
        EXPECT_EQ(entry->name, name) << locale;
    }
    EXPECT_EQ(DesktopEntries::parse(editor, "editor.desktop", "de_AT"),
              (DesktopEntry{"editor.desktop", "Texteditor", "org.example.Editor", "editor", true}));
}

TEST(DesktopEntry, FindsTheProgramOfAnExecLine) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"firefox %u", "firefox"},
        {"/usr/bin/gnome-terminal --window", "gnome-terminal"},
        {"\"/opt/With Space/app\" %F", "app"},
        {"\"/opt/q\\\"uote/app\"", "app"},
        {"env A=1 -u B /usr/bin/tool", "tool"},
        {"env A=1", ""},
        {"   ", ""}};
    for (const auto& [exec, program] : cases) {
        EXPECT_EQ(DesktopEntries::execProgram(exec), program) << exec;
    }
}

TEST(DesktopEntry, SkipsWhatIsNotAUsableApplication) {
    const auto parse = [](const std::string& text) {
        return DesktopEntries::parse("[Desktop Entry]\n" + text, "x.desktop", "");
    };
    EXPECT_FALSE(parse("Type=Application\nExec=app\n"));            // no Name
    EXPECT_FALSE(parse("Type=Application\nName=App\n"));            // no Exec
    EXPECT_FALSE(parse("Type=Link\nName=App\nExec=app\nURL=x\n"));  // not an application
    EXPECT_FALSE(parse("Type=Application\nName=App\nExec=\"\"\n")); // empty program
    EXPECT_FALSE(DesktopEntries::parse("Type=Application\nName=A\nExec=a\n", "x.desktop", ""));
    EXPECT_FALSE(parse("Type=Application\nName=App\nExe")); // truncated

    for (const std::string flag : {"NoDisplay=true", "Hidden=true", "Terminal=true"}) {
        const auto entry = parse("Type=Application\nName=App\nExec=app\n" + flag + "\n");
        ASSERT_TRUE(entry) << flag;
        EXPECT_FALSE(entry->isRegular) << flag;
    }
    EXPECT_TRUE(parse("Type=Application\nName=App\nExec=app\nNoDisplay=false\n")->isRegular);
}

TEST(DesktopEntry, LoadsEachIdOnceFromTheMostImportantFolder) {
    TemporaryFolder home;
    TemporaryFolder system;
    home.write("applications/app.desktop",
               "[Desktop Entry]\nType=Application\nName=Mine\nExec=app\n");
    system.write("applications/app.desktop",
                 "[Desktop Entry]\nType=Application\nName=Theirs\nExec=app\n");
    system.write("applications/kde/tool.desktop",
                 "[Desktop Entry]\nType=Application\nName=Tool\nExec=tool\n");
    system.write("applications/broken.desktop", "[Desktop Entry]\nType=Application\nExec=x\n");
    system.write("applications/readme.txt", "[Desktop Entry]\nType=Application\nName=T\nExec=t\n");

    ::setenv("XDG_DATA_HOME", home.path().c_str(), 1);
    ::setenv("XDG_DATA_DIRS", ("relative/dir:" + system.path().string()).c_str(), 1);
    const auto directories = DesktopEntries::applicationDirectories();
    EXPECT_EQ(directories, (std::vector<std::filesystem::path>{home.path() / "applications",
                                                               system.path() / "applications"}));
    const auto entries = DesktopEntries::load(directories, "");
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].id, "app.desktop");
    EXPECT_EQ(entries[0].name, "Mine");
    EXPECT_EQ(entries[1].id, "kde-tool.desktop");
}

} // namespace
