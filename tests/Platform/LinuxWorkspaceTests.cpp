// Desktop entries, the process table read through them, and watched processes.
#include "Lumenor/Platform/DesktopEntry.h"
#include "Lumenor/Platform/LinuxWorkspace.h"
#include "Platform/PlatformTestSupport.h"

#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

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
    for (const auto& [locale, name] : std::vector<std::pair<std::string, std::string>>{
             {"fr_FR.UTF-8", "Text Editor"},
             {"de_CH.UTF-8@euro", "Texteditor (Schweiz)"},
             {"sr_RS@latin", "Uređivač"}})
        EXPECT_EQ(DesktopEntries::parse(editor, "editor.desktop", locale).value().name, name);
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

    for (const std::string flag : {"NoDisplay=true", "Hidden=true", "Terminal=true"})
        EXPECT_FALSE(parse("Name=App\nExec=app\n" + flag + "\n").value().isRegular) << flag;
    EXPECT_TRUE(parse("Name=App\nExec=app\nNoDisplay=false\n").value().isRegular);
    // A Latin-1 name (old packages) comes in as UTF-8.
    EXPECT_EQ(parse("Name=Caf\xe9\nExec=app\n").value().name, "Caf\uFFFD");
}

// Entries in the XDG folders, each id once from the most important folder, name the
// applications in a stand-in process table.
TEST(Workspaces, ReadsTheProcessTableOneApplicationPerFamily) {
    ensureApplication();
    TemporaryFolder data, proc;
    ::setenv("XDG_DATA_HOME", (data.path() / "home").c_str(), 1);
    ::setenv("XDG_DATA_DIRS", ("relative/dir:" + data.path().string()).c_str(), 1);
    ::setenv("LC_ALL", "de_DE.UTF-8", 1);
    const auto entry = [&](const std::string& file, const std::string& program,
                           const std::string& keys) {
        data.write(file, "[Desktop Entry]\nType=Application\nExec=" + program + " %U\n" + keys);
    };
    entry("home/applications/app.desktop", "app", "Name=App\nName[de]=Programm\nIcon=app-icon\n");
    entry("applications/app.desktop", "app", "Name=Theirs\n");
    entry("applications/kde/helper-tool.desktop", "helper-tool", "Name=Helper\nNoDisplay=true\n");
    entry("applications/sh.desktop", "sh", "Name=Shell\n");
    entry("applications/broken.desktop", "app", "Name=\n");
    entry("applications/readme.txt", "app", "Name=Text\n");
    const auto directories = DesktopEntries::applicationDirectories();
    EXPECT_EQ(directories, (std::vector<std::filesystem::path>{data.path() / "home/applications",
                                                               data.path() / "applications"}));
    EXPECT_EQ(DesktopEntries::load(directories, "").size(), 3u) << "app, kde-helper-tool and sh";
    const auto process = [&](int pid, int parent, const std::string& argv0) {
        const std::string folder = std::to_string(pid);
        proc.write(folder + "/stat", folder + " (x) y) S " + std::to_string(parent) + " 1 1\n");
        proc.write(folder + "/cmdline", argv0 + std::string(1, '\0') + "--flag");
    };
    process(200, 1, "app");
    process(201, 200, "app");    // a helper process of 200
    process(202, 1, "/opt/app"); // a second instance
    process(203, 1, "/bin/sh");  // a program too common to name an application
    process(300, 1, "renamed");  // known by its executable, replaced since it started
    std::filesystem::create_symlink("/usr/lib/helper-tool (deleted)", proc.path() / "300/exe");
    proc.write("204/cmdline", "app"); // vanished: no stat
    proc.write("self/stat", "1 (x) S 0");

    LinuxWorkspace workspace(nullptr, proc.path());
    const auto applications = workspace.runningApplications();
    ASSERT_EQ(applications.size(), 3u);
    EXPECT_EQ(applications[0],
              (RunningApplication{200, "Programm", "app.desktop", "app-icon", true}));
    EXPECT_EQ(applications[1].pid, 202);
    EXPECT_EQ(applications[2],
              (RunningApplication{300, "Helper", "kde-helper-tool.desktop", "", false}));
}

TEST(Workspaces, ReportsTheEndOfAWatchedProcessOnceFromTheEventLoop) {
    ensureApplication();
    LinuxWorkspace workspace;
    QSignalSpy ended(&workspace, &Workspace::processEnded);
    char* argv[] = {const_cast<char*>("/bin/sleep"), const_cast<char*>("30"), nullptr};
    pid_t pid = 0;
    ASSERT_EQ(::posix_spawn(&pid, argv[0], nullptr, nullptr, argv, environ), 0);
    workspace.watchProcess(pid);
    workspace.watchProcess(pid);
    ::kill(pid, SIGKILL);
    EXPECT_TRUE(QTest::qWaitFor([&] { return ended.count() > 0; }));
    ::waitpid(pid, nullptr, 0);

    // Watched once it is gone, it is reported again, though not from inside the call, and not
    // at all once unwatched.
    workspace.watchProcess(pid);
    EXPECT_EQ(ended.count(), 1);
    EXPECT_TRUE(QTest::qWaitFor([&] { return ended.count() == 2; }));
    workspace.watchProcess(pid);
    workspace.unwatchProcess(pid);
    QTest::qWait(100);
    EXPECT_EQ(ended, (QList<QVariantList>{{pid}, {pid}}));
}

} // namespace
