#include "Lumenor/Platform/LinuxWorkspace.h"
#include "Platform/PlatformTestSupport.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace {

class Workspaces : public ::testing::Test {
protected:
    void SetUp() override {
        ensureApplication();
        ::setenv("XDG_DATA_HOME", (data.path() / "home").c_str(), 1);
        ::setenv("XDG_DATA_DIRS", data.path().c_str(), 1);
        ::setenv("LC_ALL", "de_DE.UTF-8", 1);
        entry("lumenor-test-app", "Name=Test App\nName[de]=Testprogramm\nIcon=test-icon\n");
    }
    void TearDown() override {
        for (pid_t pid : children) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    }

    void entry(const std::string& program, const std::string& keys) {
        data.write("applications/" + program + ".desktop",
                   "[Desktop Entry]\nType=Application\nExec=" + program + " %U\n" + keys);
    }

    /// Starts a copy of sleep under the name `program`.
    pid_t start(const std::string& program) {
        const auto copy = data.path() / program;
        std::filesystem::copy_file("/bin/sleep", copy,
                                   std::filesystem::copy_options::overwrite_existing);
        std::filesystem::permissions(copy, std::filesystem::perms::owner_all);
        char* argv[] = {const_cast<char*>(copy.c_str()), const_cast<char*>("30"), nullptr};
        pid_t pid = 0;
        EXPECT_EQ(::posix_spawn(&pid, copy.c_str(), nullptr, nullptr, argv, environ), 0);
        children.push_back(pid);
        return pid;
    }

    TemporaryFolder data;
    std::vector<pid_t> children;
};

TEST_F(Workspaces, ListsRunningProcessesOfInstalledApplications) {
    LinuxWorkspace workspace;
    const pid_t pid = start("lumenor-test-app");
    // exec has happened once /proc shows the new program.
    ASSERT_TRUE(waitUntil([&] {
        std::error_code error;
        return std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/exe", error)
                   .filename() == "lumenor-test-app";
    }));
    const RunningApplication expected{pid, "Testprogramm", "lumenor-test-app.desktop", "test-icon",
                                      true};
    const auto applications = workspace.runningApplications();
    EXPECT_NE(std::find(applications.begin(), applications.end(), expected), applications.end());
}

TEST_F(Workspaces, ReadsTheProcessTableOneApplicationPerFamily) {
    TemporaryFolder proc;
    const auto process = [&](int pid, int parent, const std::string& argv0) {
        const std::string folder = std::to_string(pid);
        proc.write(folder + "/stat", folder + " (x) y) S " + std::to_string(parent) + " 1 1\n");
        proc.write(folder + "/cmdline", argv0 + std::string(1, '\0') + "--flag");
    };
    entry("helper-tool", "Name=Helper\nNoDisplay=true\n");
    entry("sh", "Name=Shell\n");
    process(300, 1, "/usr/lib/x/helper-tool");
    process(200, 1, "lumenor-test-app");
    process(201, 200, "lumenor-test-app");    // a helper process of 200
    process(202, 1, "/opt/lumenor-test-app"); // a second instance
    process(203, 1, "/bin/sh");
    proc.write("204/cmdline", "lumenor-test-app"); // vanished: no stat
    proc.write("205/stat", "205 (x) S");           // truncated
    proc.write("self/stat", "1 (x) S 0");
    proc.write("uptime", "1 2");

    LinuxWorkspace workspace(nullptr, proc.path());
    const auto applications = workspace.runningApplications();
    ASSERT_EQ(applications.size(), 3u);
    EXPECT_EQ(applications[0].processIdentifier, 200);
    EXPECT_EQ(applications[1].processIdentifier, 202);
    EXPECT_EQ(applications[2],
              (RunningApplication{300, "Helper", "helper-tool.desktop", "", false}));
}

TEST_F(Workspaces, ReportsTheEndOfAWatchedProcessOnce) {
    LinuxWorkspace workspace;
    QSignalSpy ended(&workspace, &Workspace::didTerminateApplication);
    const pid_t pid = start("lumenor-test-app");
    workspace.watchApplication(pid);
    workspace.watchApplication(pid);
    QCoreApplication::processEvents();
    EXPECT_EQ(ended.count(), 0);
    ::kill(pid, SIGKILL);
    ASSERT_TRUE(waitUntil([&] { return ended.count() >= 1; }));
    ::waitpid(pid, nullptr, 0);
    waitUntil([] { return false; }, std::chrono::milliseconds(100));
    ASSERT_EQ(ended.count(), 1);
    EXPECT_EQ(ended.at(0).at(0).toInt(), pid);
}

TEST_F(Workspaces, ReportsAnAlreadyEndedProcessFromTheEventLoop) {
    LinuxWorkspace workspace;
    QSignalSpy ended(&workspace, &Workspace::didTerminateApplication);
    const pid_t pid = start("lumenor-test-app");
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    children.clear();
    workspace.watchApplication(pid);
    EXPECT_EQ(ended.count(), 0) << "not from inside watchApplication";
    ASSERT_TRUE(waitUntil([&] { return ended.count() == 1; }));
    EXPECT_EQ(ended.at(0).at(0).toInt(), pid);
    EXPECT_TRUE(workspace.fileExists(data.path()));
    EXPECT_FALSE(workspace.fileExists(data.path() / "missing"));
}

} // namespace
