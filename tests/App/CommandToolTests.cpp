// The `lumenor` command against the real app: what a caller sees on its streams and exit status.

#include "App/Processes.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>

using namespace ::testing;

namespace {

/// One app per test, in its own home, stopped in order at the end.
class CommandTool : public AppTest {
protected:
    void SetUp() override { startTheApp(); }

    Finished lumenor(const QStringList& arguments) { return ::lumenor(sandbox, arguments); }

    /// The holds the app lists, as `id (label)` words, or "none".
    std::string holds() {
        const std::string text = lumenor({"holds"}).out;
        return text.starts_with("No holds") ? "none" : text;
    }
};

} // namespace

// What a caller sees, step by step: the status, the start of standard output, and all of
// standard error. A failure writes nothing to standard output unless --json asks for it there.
// The steps run in the sandbox's home, where a relative file is found. Around them: the
// app's files are the owner's alone, and its lid inhibitor goes with it.
TEST_F(CommandTool, EachOutcomeReachesTheCallerAndTheAppKeepsItsFilesAndLidToItself) {
    EXPECT_EQ(lumenor({"set", "--display", "on"}).status, 0);
    // A loose log and folder (as an old version left them) are made owner-only again.
    const std::filesystem::path log = sandbox.socketPath().parent_path() / "lumenor.log";
    writeFile(log, "");
    for (const auto& loose : {log, log.parent_path()})
        std::filesystem::permissions(loose, std::filesystem::perms::all);
    // The private bus's logind grants the lid too.
    const Finished on = lumenor({"on", "--for", "30m"});
    EXPECT_TRUE(on.out.ends_with(", even with the lid closed.\n")) << on.out;
    EXPECT_TRUE(QTest::qWaitFor([] { return lidHolders() == ourLid; }));
    const std::filesystem::path settings = sandbox.home() / ".config/Lumenor/Lumenor.conf";
    EXPECT_NE(readFile(settings).find("keepDisplayOn=true"), std::string::npos);
    for (const auto& file : {settings, log, sandbox.socketPath()})
        EXPECT_EQ(modeOf(file), 0600u) << file;
    for (const auto& folder : {settings.parent_path(), sandbox.socketPath().parent_path()})
        EXPECT_EQ(modeOf(folder), 0700u) << folder;
    const std::filesystem::path here = std::filesystem::current_path();
    writeFile(sandbox.home() / "build.log", "growing");
    std::filesystem::current_path(sandbox.home());
    for (const auto& [arguments, expected] : std::vector<std::pair<QStringList, Finished>>{
             {{"status"}, {0, "Awake — Until ", ""}},
             {{"status", "--color=always"}, {0, "☀️ Awake — Until ", ""}},
             {{"sleep", "--in", "10m"}, {0, "The computer will sleep in 10 minutes.", ""}},
             {{"cancel-sleep"}, {0, "Sleep cancelled.\n", ""}},
             {{"cancel-sleep"}, {0, "No sleep was pending.\n", ""}},
             {{"release", "nosuch", "--json"},
              {1, R"({"exit":1,"message":"No hold “nosuch”. No holds are active.")", ""}},
             {{"--json", "stauts"},
              {2,
               "{\"exit\":2,\"message\":\"lumenor: unknown command “stauts”; did you mean "
               "“status”?\",\"ok\":false}\n",
               ""}},
             // A label that would set the terminal's title is shown, not obeyed.
             {{"hold", "esc", "--label", "\x1b]0;pwned\x07\xc2\x9b"}, {0, "Holding", ""}},
             {{"holds"}, {0, "esc (\\x1b]0;pwned\\x07\\u009b): ", ""}},
             {{"on", "--file", "build.log"}, {0, "Keeping", ""}},
             {{"on", "--file", "../nothing.log"},
              {1, "",
               "File not found: " + (sandbox.home().parent_path() / "nothing.log").string() +
                   "\n"}},
         }) {
        SCOPED_TRACE(arguments.join(' ').toStdString());
        expectOutcome(lumenor(arguments), expected);
    }
    // A descriptor of the command's own names its file, never one of the app's descriptors.
    expectOutcome(run("/bin/sh", {"-c", "\"$TOOL\" on --file /proc/self/fd/3 3<build.log"},
                      sandbox.environment()),
                  {0, "Keeping the computer awake — While build.log downloads", ""});
    std::filesystem::current_path(here);

    // No desktop here, so no administrator dialog could be shown: setup must not pretend.
    const Finished setup = lumenor({"setup"});
    EXPECT_EQ(setup.status, 1);
    EXPECT_EQ(setup.out, "");
    EXPECT_THAT(setup.err, AnyOf(HasSubstr("lumenor setup --print-script | sudo sh"),
                                 HasSubstr("install the sudo package first")));

    // The lid inhibitor lives on the app's own descriptor: kill -9 leaves none behind.
    EXPECT_EQ(lidHolders(), ourLid);
    ::kill(pid_t(app->processId()), SIGKILL);
    app->waitFor(10000);
    EXPECT_TRUE(QTest::qWaitFor([] { return lidHolders().empty(); }));
}

// Taking, extending, listing and releasing holds are the engine's tests; here: on real timers.
TEST_F(CommandTool, HoldsRunsAndAgentTasksKeepAwakeUntilTheyEnd) {
    lumenor({"hold", "brief", "--for", "1s"});
    // A listing may drop it before the expiry is logged: wait for the log.
    const std::filesystem::path log = sandbox.socketPath().parent_path() / "lumenor.log";
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return readFile(log).find("Hold expired: brief") != std::string::npos; }, 10000));
    EXPECT_EQ(holds(), "none");

    // `run` holds awake while its command runs, and exits with its status.
    // The command sees its own hold, and its output and status come back unchanged.
    const Finished seven = lumenor(
        {"run", "--label", "check", "--", "sh", "-c", "\"$TOOL\" holds; echo to-err >&2; exit 7"});
    EXPECT_EQ(seven.status, 7) << seven.err;
    EXPECT_THAT(seven.out, MatchesRegex(R"(run-.* \(check\): while process .*)"));
    EXPECT_EQ(seven.err, "to-err\n");
    EXPECT_EQ(lumenor({"run", "--", "no-such-program-here"}).status, 127);
    EXPECT_EQ(holds(), "none");

    // A signal sent to the command line reaches the command.
    Child waiting(toolPath, {"run", "--", "sleep", "60"}, sandbox.environment());
    ASSERT_TRUE(QTest::qWaitFor([&] { return holds() != "none"; }, 20000));
    waiting.terminate();
    EXPECT_EQ(waiting.waitFor(20000), 128 + SIGTERM);
    EXPECT_EQ(holds(), "none");

    // `sleep --after-task` waits for the agent run it is part of.
    // A shell started under the name of a one-shot agent run stands in for the agent.
    const std::filesystem::path agent = sandbox.home() / "copilot";
    std::filesystem::copy_file("/bin/sh", agent);
    // The delay and the cancel keep the machine awake whatever happens to the pid.
    const QString script = "echo $$; \"$TOOL\" sleep --after-task --in 10m; status=$?; "
                           "\"$TOOL\" cancel-sleep >/dev/null; exit $status";
    const Finished run =
        ::run(QString::fromStdString(agent), {"-c", script, "-p"}, sandbox.environment());
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string agentPid = run.out.substr(0, run.out.find('\n'));
    EXPECT_THAT(run.out, HasSubstr("The computer will sleep once the current Copilot task (pid " +
                                   agentPid + ") has finished and replied."));
    EXPECT_EQ(lumenor({"status"}).out.find("Sleeping"), std::string::npos);
}
