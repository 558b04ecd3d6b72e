// The `lumenor` command against the real app: what a caller sees on its streams and exit status.

#include "App/Processes.h"

#include <gtest/gtest.h>

#include <QTest>

namespace {

/// One app per test, in its own home, stopped in order at the end.
class CommandTool : public ::testing::Test {
protected:
    void SetUp() override {
        app = startApp(sandbox);
        ASSERT_TRUE(QTest::qWaitFor([&] { return lumenor({"ping"}).status == 0; }, 20000))
            << app->err();
    }

    Finished lumenor(const QStringList& arguments) { return ::lumenor(sandbox, arguments); }

    bool awake() { return lumenor({"status"}).out.starts_with("☀️ Awake"); }

    Sandbox sandbox;
    std::unique_ptr<Child> app;
};

} // namespace

TEST_F(CommandTool, KeepsAwakeForAWhileAndReportsIt) {
    const Finished on = lumenor({"on", "--for", "30m"});
    EXPECT_EQ(on.status, 0) << on.err;
    EXPECT_TRUE(on.out.starts_with("Keeping the computer awake — Until ")) << on.out;
    EXPECT_TRUE(
        on.out.ends_with(". ⚠️ Lid-closed mode isn't set up yet: run `lumenor setup` once.\n"))
        << on.out;
    EXPECT_EQ(on.err, "");

    const Finished text = lumenor({"status"});
    EXPECT_EQ(text.status, 0);
    EXPECT_TRUE(text.out.starts_with("☀️ Awake — Until ")) << text.out;

    const Finished bad = lumenor({"on", "--for", "soon"});
    EXPECT_EQ(bad.status, 1);
    EXPECT_EQ(bad.out, "");
    EXPECT_EQ(bad.err, "Couldn't understand duration “soon”. Try 30m, 2h, 1h30m.\n");
}

TEST_F(CommandTool, SettingsLogAndSocketAreOwnerOnly) {
    EXPECT_EQ(lumenor({"set", "--display", "on"}).status, 0);
    EXPECT_EQ(lumenor({"on", "--for", "1m"}).status, 0); // an event for the log
    const auto mode = [](const std::filesystem::path& path) {
        return std::filesystem::status(path).permissions() & std::filesystem::perms::all;
    };
    using std::filesystem::perms;
    const std::filesystem::path settings = sandbox.home() / ".config/Lumenor/Lumenor.conf";
    EXPECT_NE(readFile(settings).find("keepDisplayOn=true"), std::string::npos);
    for (const auto& file :
         {settings, sandbox.socketPath().parent_path() / "lumenor.log", sandbox.socketPath()})
        EXPECT_EQ(mode(file), perms::owner_read | perms::owner_write) << file;
    for (const auto& folder : {settings.parent_path(), sandbox.socketPath().parent_path()})
        EXPECT_EQ(mode(folder), perms::owner_all) << folder;
}

TEST_F(CommandTool, HoldsAreTakenAndReleasedById) {
    const Finished hold = lumenor({"hold", "task-7", "--for", "2h"});
    EXPECT_EQ(hold.status, 0);
    EXPECT_EQ(hold.out, "Holding awake for 2 hours (task-7)\n");
    EXPECT_TRUE(awake());

    const Finished release = lumenor({"release", "task-7"});
    EXPECT_EQ(release.status, 0);
    EXPECT_EQ(release.out, "Released task-7\n");
    EXPECT_FALSE(awake());
}

TEST_F(CommandTool, SleepAfterTaskWaitsForTheAgentRunItIsPartOf) {
    // A shell started under the name of a one-shot agent run stands in for the agent.
    const std::filesystem::path agent = sandbox.home() / "copilot";
    std::filesystem::copy_file("/bin/sh", agent);
    // The delay and the cancel keep the machine awake whatever happens to the pid.
    const QString script = "echo $$; \"$TOOL\" sleep --after-task --in 10m; status=$?; "
                           "\"$TOOL\" cancel-sleep >/dev/null; exit $status";
    QProcessEnvironment environment = sandbox.environment();
    environment.insert("TOOL", toolPath);
    const Finished run = ::run(QString::fromStdString(agent), {"-c", script, "-p"}, environment);
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string agentPid = run.out.substr(0, run.out.find('\n'));
    EXPECT_NE(run.out.find("😴 The computer will sleep once the current Copilot task (pid " +
                           agentPid + ") has finished and replied."),
              std::string::npos)
        << run.out;

    // Outside an agent run it is a usage error, and nothing is sent.
    EXPECT_EQ(lumenor({"sleep", "--after-task"}).status, 2);
    EXPECT_EQ(lumenor({"status"}).out.find("😴"), std::string::npos);
}

TEST_F(CommandTool, APendingSleepShowsInTheStatusUntilCancelled) {
    const Finished sleep = lumenor({"sleep", "--in", "10m"});
    EXPECT_EQ(sleep.status, 0) << sleep.err;
    EXPECT_TRUE(sleep.out.starts_with("😴 The computer will sleep in 10 minutes.")) << sleep.out;
    const std::string text = lumenor({"status"}).out;
    EXPECT_TRUE(text.find("\n😴 Sleeping in 10m 0") != std::string::npos ||
                text.find("\n😴 Sleeping in 9m 5") != std::string::npos)
        << text;

    EXPECT_EQ(lumenor({"cancel-sleep"}).out, "Sleep cancelled.\n");
    EXPECT_EQ(lumenor({"cancel-sleep"}).out, "No sleep was pending.\n");
    EXPECT_EQ(lumenor({"status"}).out.find("😴"), std::string::npos);
}
