// The `lumenor` command against the real app: what a caller sees on its streams and exit status.

#include "App/Processes.h"

#include "LumenorCore/LumenorPaths.h"

#include <gtest/gtest.h>

#include <QTest>

#include <csignal>
#include <fstream>

namespace {

/// One app per test, in its own home, stopped in order at the end.
class CommandTool : public ::testing::Test {
protected:
    void SetUp() override {
        app = startApp(sandbox);
        ASSERT_TRUE(QTest::qWaitFor([&] { return lumenor({"ping"}).status == 0; }, 20000))
            << app->err();
    }
    // A failure's cause is often in what the app said, a sanitizer's report among it.
    void TearDown() override {
        if (HasFailure())
            ADD_FAILURE() << "The app said:\n" << app->err();
    }

    Finished lumenor(const QStringList& arguments) { return ::lumenor(sandbox, arguments); }

    bool awake() { return lumenor({"status"}).out.starts_with("Awake"); }
    /// The holds the app lists, as `id (label)` words, or "none".
    std::string holds() {
        const std::string text = lumenor({"holds"}).out;
        return text.starts_with("No holds") ? "none" : text;
    }

    Sandbox sandbox;
    std::unique_ptr<Child> app;
};

} // namespace

// What a caller sees, step by step: the status, the start of standard output, and all of
// standard error. A failure writes nothing to standard output unless --json asks for it there.
TEST_F(CommandTool, EachOutcomeReachesTheCallerOnItsStreamWithItsStatus) {
    const Finished on = lumenor({"on", "--for", "30m"});
    // The private bus's logind grants the lid too.
    EXPECT_TRUE(on.out.ends_with(", even with the lid closed.\n")) << on.out;
    const struct {
        QStringList arguments;
        int status;
        std::string out, err;
    } steps[] = {
        {{"status"}, 0, "Awake — Until ", ""},
        {{"status", "--color=always"}, 0, "☀️ Awake — Until ", ""},
        {{"on", "--for", "soon"},
         1,
         "",
         "Couldn't understand duration “soon”. Try 30m, 2h, 1h30m.\n"},
        {{"sleep", "--in", "10m"}, 0, "The computer will sleep in 10 minutes.", ""},
        {{"cancel-sleep"}, 0, "Sleep cancelled.\n", ""},
        {{"cancel-sleep"}, 0, "No sleep was pending.\n", ""},
        {{"release", "nosuch", "--json"},
         1,
         R"({"exit":1,"message":"No hold “nosuch”. No holds are active.")",
         ""},
        {{"--json", "stauts"},
         2,
         "{\"exit\":2,\"message\":\"lumenor: unknown command “stauts”; did you mean “status”?\","
         "\"ok\":false}\n",
         ""},
    };
    for (const auto& step : steps) {
        const Finished finished = lumenor(step.arguments);
        const std::string what = step.arguments.join(' ').toStdString();
        EXPECT_EQ(finished.status, step.status) << what;
        EXPECT_TRUE(step.out.empty() ? finished.out.empty() : finished.out.starts_with(step.out))
            << what << ": " << finished.out;
        EXPECT_EQ(finished.err, step.err) << what;
    }
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

TEST_F(CommandTool, HoldsAreTakenListedExtendedReleasedAndExpire) {
    const Finished hold = lumenor({"hold", "task-7", "--for", "2h", "--label", "nightly build"});
    EXPECT_EQ(hold.status, 0);
    EXPECT_EQ(hold.out, "Holding awake for 2 hours (task-7)\n");
    EXPECT_TRUE(awake());
    const auto left = [&](const std::string& near, const std::string& exact) {
        const std::string text = holds();
        return text == "task-7 (nightly build): " + near + " left\n" ||
               text == "task-7 (nightly build): " + exact + " left\n";
    };
    EXPECT_TRUE(left("1h 59m", "2h 00m")) << holds();
    lumenor({"hold", "task-7", "--for", "3h"});
    EXPECT_TRUE(left("2h 59m", "3h 00m")) << holds();
    EXPECT_TRUE(lumenor({"status"}).out.starts_with("Awake — held for nightly build ("));

    const Finished unknown = lumenor({"release", "task-8"});
    EXPECT_EQ(unknown.status, 1);
    EXPECT_TRUE(unknown.err.starts_with("No hold “task-8”. Active holds:\ntask-7 (nightly build)"))
        << unknown.err;
    const Finished release = lumenor({"release", "task-7"});
    EXPECT_EQ(release.status, 0);
    EXPECT_EQ(release.out, "Released task-7\n");
    EXPECT_FALSE(awake());

    lumenor({"hold", "brief", "--for", "1s"});
    EXPECT_TRUE(QTest::qWaitFor([&] { return holds() == "none"; }, 10000));
    // The log lives where the app's paths say, under the sandbox's home.
    setenv("LUMENOR_HOME", sandbox.home().c_str(), 1);
    const std::string log = readFile(LumenorPaths::logFile());
    unsetenv("LUMENOR_HOME");
    for (const char* line : {"Hold taken: task-7 (nightly build) for 2 hours",
                             "Hold extended: task-7 (nightly build) for 3 hours",
                             "Hold released: task-7", "Hold expired: brief"}) {
        EXPECT_NE(log.find(line), std::string::npos) << line;
    }
}

TEST_F(CommandTool, JsonListsTheHolds) {
    lumenor({"hold", "agent-1", "--for", "10m", "--label", "fix"});
    const Finished listed = lumenor({"holds", "--json"});
    EXPECT_EQ(listed.status, 0);
    EXPECT_NE(listed.out.find(R"("holds":[{"id":"agent-1","label":"fix","until":")"),
              std::string::npos)
        << listed.out;
    EXPECT_TRUE(listed.out.starts_with(R"({"exit":0,"message":"agent-1 (fix): )")) << listed.out;
}

TEST_F(CommandTool, RelativeFilesAreResolvedWhereTheCommandRuns) {
    std::filesystem::create_directories(sandbox.home() / "notes");
    std::ofstream(sandbox.home() / "notes" / "build.log") << "growing";
    QProcessEnvironment environment = sandbox.environment();
    environment.insert("TOOL", toolPath);
    const auto inNotes = [&](const QString& file) {
        return ::run("/bin/sh",
                     {"-c", "cd \"$0\" && \"$TOOL\" on --file \"$1\"",
                      QString::fromStdString((sandbox.home() / "notes").string()), file},
                     environment);
    };
    const Finished found = inNotes("build.log");
    EXPECT_EQ(found.status, 0) << found.err;
    EXPECT_TRUE(lumenor({"status"}).out.starts_with("Awake — While build.log downloads"));

    const Finished missing = inNotes("../nothing.log");
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err, "File not found: " + (sandbox.home() / "nothing.log").string() + "\n");
}

TEST_F(CommandTool, RunKeepsAwakeWhileTheCommandRunsAndExitsWithItsStatus) {
    QProcessEnvironment environment = sandbox.environment();
    environment.insert("TOOL", toolPath);
    // The command sees its own hold, and its output and status come back unchanged.
    const Finished seven = ::run(
        toolPath,
        {"run", "--label", "check", "--", "sh", "-c", "\"$TOOL\" holds; echo to-err >&2; exit 7"},
        environment);
    EXPECT_EQ(seven.status, 7) << seven.err;
    EXPECT_TRUE(seven.out.starts_with("run-")) << seven.out;
    EXPECT_NE(seven.out.find(" (check): while process "), std::string::npos) << seven.out;
    EXPECT_EQ(seven.err, "to-err\n");
    EXPECT_EQ(holds(), "none");

    EXPECT_EQ(::run(toolPath, {"run", "true"}, environment).status, 0);
    const Finished killed =
        ::run(toolPath, {"run", "--", "sh", "-c", "kill -TERM $$"}, environment);
    EXPECT_EQ(killed.status, 128 + SIGTERM);
    const Finished absent = ::run(toolPath, {"run", "--", "no-such-program-here"}, environment);
    EXPECT_EQ(absent.status, 127);
    EXPECT_EQ(holds(), "none");

    // A signal sent to the command line reaches the command.
    Child waiting(toolPath, {"run", "--", "sleep", "60"}, environment);
    ASSERT_TRUE(QTest::qWaitFor([&] { return holds() != "none"; }, 20000));
    waiting.terminate();
    EXPECT_EQ(waiting.waitFor(20000), 128 + SIGTERM);
    EXPECT_EQ(holds(), "none");
}

TEST(CommandToolAlone, HelpAndAbsentApp) {
    Sandbox sandbox;
    const Finished help = lumenor(sandbox, {"help", "run"});
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(help.out.starts_with("Usage: lumenor run [OPTIONS] -- COMMAND [ARGUMENT…]\n"))
        << help.out;

    const Finished absent = lumenor(sandbox, {"status"});
    EXPECT_EQ(absent.status, 3);
    EXPECT_EQ(absent.out, "");
    EXPECT_EQ(absent.err, "Lumenor isn't running (connect failed: No such file or directory).\n");
    const Finished json = lumenor(sandbox, {"status", "--json"});
    EXPECT_EQ(json.status, 3);
    EXPECT_TRUE(json.out.starts_with(R"({"exit":3,"message":"Lumenor isn't running ()"))
        << json.out;
    EXPECT_TRUE(json.out.ends_with("\"ok\":false}\n"));
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
    EXPECT_NE(run.out.find("The computer will sleep once the current Copilot task (pid " +
                           agentPid + ") has finished and replied."),
              std::string::npos)
        << run.out;

    // Outside an agent run it is a usage error, and nothing is sent.
    EXPECT_EQ(lumenor({"sleep", "--after-task"}).status, 2);
    EXPECT_EQ(lumenor({"status"}).out.find("Sleeping"), std::string::npos);
}

// This app has no desktop, so no administrator dialog could be shown: setup must not pretend.
TEST_F(CommandTool, SetupThatCannotStartFailsWithTheReason) {
    const Finished setup = lumenor({"setup"});
    EXPECT_EQ(setup.status, 1);
    EXPECT_EQ(setup.out, "");
    EXPECT_TRUE(setup.err.find("lumenor setup --print-script | sudo sh") != std::string::npos ||
                setup.err.find("install the sudo package first") != std::string::npos)
        << setup.err;
}
