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

TEST(Workspaces, ReadsTheProcessTableOneApplicationPerFamily) {
    ensureApplication();
    TemporaryFolder data;
    TemporaryFolder proc;
    ::setenv("XDG_DATA_HOME", (data.path() / "home").c_str(), 1);
    ::setenv("XDG_DATA_DIRS", data.path().c_str(), 1);
    ::setenv("LC_ALL", "de_DE.UTF-8", 1);
    const auto entry = [&](const std::string& program, const std::string& keys) {
        data.write("applications/" + program + ".desktop",
                   "[Desktop Entry]\nType=Application\nExec=" + program + " %U\n" + keys);
    };
    entry("app", "Name=App\nName[de]=Programm\nIcon=app-icon\n");
    entry("helper-tool", "Name=Helper\nNoDisplay=true\n");
    entry("sh", "Name=Shell\n");
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
              (RunningApplication{300, "Helper", "helper-tool.desktop", "", false}));
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
