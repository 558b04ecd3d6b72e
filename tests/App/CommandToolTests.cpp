// The `lumenor` command against the real app: what a caller sees on its streams and exit status.

#include "App/Processes.h"
#include "LumenorCore/LumenorJSON.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

using namespace std::chrono;
using namespace std::chrono_literals;

const std::string appPath = LUMENOR_BINARY_DIR "/Lumenor.app/Contents/MacOS/Lumenor";
const std::string toolPath = LUMENOR_BINARY_DIR "/Lumenor.app/Contents/Helpers/lumenor";

/// One app per test, in its own home, stopped in order at the end.
class CommandTool : public ::testing::Test {
protected:
    void SetUp() override {
        app = std::make_unique<Child>(appPath, std::vector<std::string>{},
                                      sandbox.environment({"QT_QPA_PLATFORM=offscreen"}), sandbox);
        ASSERT_TRUE(eventually([&] { return lumenor({"ping"}).status == 0; })) << app->err();
    }

    Finished lumenor(const std::vector<std::string>& arguments) {
        return run(toolPath, arguments, sandbox.environment(), sandbox);
    }

    LumenorResponse json(const std::vector<std::string>& arguments) {
        std::vector<std::string> withJson{"--json"};
        withJson.insert(withJson.end(), arguments.begin(), arguments.end());
        const Finished finished = lumenor(withJson);
        EXPECT_TRUE(finished.out.ends_with("\n")) << finished.out;
        return LumenorJSON::decode<LumenorResponse>(
            finished.out.substr(0, finished.out.size() - 1));
    }

    Sandbox sandbox;
    std::unique_ptr<Child> app;
};

double secondsFromNow(Instant instant) {
    return duration<double>(instant - system_clock::now()).count();
}

} // namespace

TEST_F(CommandTool, KeepsAwakeForAWhileAndReportsIt) {
    const Finished on = lumenor({"on", "--for", "30m"});
    EXPECT_EQ(on.status, 0) << on.err;
    EXPECT_TRUE(on.out.starts_with("Keeping the Mac awake — Until ")) << on.out;
    EXPECT_TRUE(
        on.out.ends_with(". ⚠️ Lid-closed mode isn't set up yet: run `lumenor setup` once.\n"))
        << on.out;
    EXPECT_EQ(on.err, "");

    const Finished status = lumenor({"status"});
    EXPECT_EQ(status.status, 0);
    EXPECT_TRUE(status.out.starts_with("☀️ Awake — Until ")) << status.out;

    const LumenorResponse reply = json({"status"});
    ASSERT_TRUE(reply.status.has_value());
    EXPECT_TRUE(reply.status->awake);
    ASSERT_TRUE(reply.status->sessionEndsAt.has_value());
    EXPECT_NEAR(secondsFromNow(*reply.status->sessionEndsAt), 1800, 60);

    const Finished lidOff = lumenor({"on", "--for", "1h", "--lid=off"});
    EXPECT_TRUE(
        lidOff.out.ends_with(" (lid-closed mode is off — closing the lid will sleep it).\n"))
        << lidOff.out;

    const Finished off = lumenor({"off"});
    EXPECT_EQ(off.out,
              "Keep-awake session ended. The Mac follows its normal sleep settings again.\n");
    EXPECT_FALSE(json({"status"}).status->awake);
}

TEST_F(CommandTool, HoldsAreTakenAndReleasedById) {
    const Finished hold = lumenor({"hold", "task-7", "--for", "2h"});
    EXPECT_EQ(hold.status, 0);
    EXPECT_EQ(hold.out, "Holding awake for 2 hours (task-7)\n");
    const LumenorResponse held = json({"status"});
    ASSERT_TRUE(held.status && held.status->holdUntil);
    EXPECT_NEAR(secondsFromNow(*held.status->holdUntil), 7200, 60);

    const Finished release = lumenor({"release", "task-7"});
    EXPECT_EQ(release.status, 0);
    EXPECT_EQ(release.out, "Released task-7\n");
    EXPECT_FALSE(json({"status"}).status->awake);
}

TEST_F(CommandTool, RefusalsAndUsageErrorsHaveTheirOwnExitStatus) {
    const Finished badDuration = lumenor({"on", "--for", "soon"});
    EXPECT_EQ(badDuration.status, 1);
    EXPECT_EQ(badDuration.out, "");
    EXPECT_EQ(badDuration.err, "Couldn't understand duration “soon”. Try 30m, 2h, 1h30m.\n");

    const LumenorResponse refused = json({"hold", "x", "--for", "soon"});
    EXPECT_FALSE(refused.ok);
    EXPECT_EQ(refused.message, "Couldn't understand duration “soon”.");
    EXPECT_TRUE(refused.status.has_value());

    const Finished usage = lumenor({"on", "--for"});
    EXPECT_EQ(usage.status, 2);
    EXPECT_TRUE(usage.err.starts_with("lumenor: --for needs a value\nUsage: lumenor")) << usage.err;
    EXPECT_FALSE(json({"status"}).status->awake) << "a usage error must send nothing";
}

TEST_F(CommandTool, SleepAfterTaskWaitsForTheAgentRunItIsPartOf) {
    // A shell started under the name of a one-shot agent run stands in for the agent.
    const std::filesystem::path agent = sandbox.home() / "copilot";
    std::filesystem::copy_file("/bin/sh", agent);
    // The delay and the cancel keep the machine awake whatever happens to the pid.
    const std::string script = "echo $$; \"$TOOL\" sleep --after-task --in 10m; status=$?; "
                               "\"$TOOL\" cancel-sleep >/dev/null; exit $status";
    const Finished run = ::run(agent.string(), {"-c", script, "-p"},
                               sandbox.environment({"TOOL=" + toolPath}), sandbox);
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string agentPid = run.out.substr(0, run.out.find('\n'));
    EXPECT_NE(run.out.find("😴 The Mac will sleep once the current Copilot task (pid " + agentPid +
                           ") has finished and replied."),
              std::string::npos)
        << run.out;
    EXPECT_FALSE(json({"status"}).status->pendingSleepAt.has_value());

    const Finished outside = lumenor({"sleep", "--after-task"});
    EXPECT_EQ(outside.status, 2);
    EXPECT_FALSE(json({"status"}).status->pendingSleepAt.has_value());
}

TEST_F(CommandTool, APendingSleepShowsInTheStatusUntilCancelled) {
    const Finished sleep = lumenor({"sleep", "--in", "10m"});
    EXPECT_EQ(sleep.status, 0) << sleep.err;
    EXPECT_TRUE(sleep.out.starts_with("😴 The Mac will sleep in 10 minutes.")) << sleep.out;
    const std::string status = lumenor({"status"}).out;
    EXPECT_TRUE(status.find("\n😴 Sleeping in 10m 0") != std::string::npos ||
                status.find("\n😴 Sleeping in 9m 5") != std::string::npos)
        << status;

    EXPECT_EQ(lumenor({"cancel-sleep"}).out, "Sleep cancelled.\n");
    EXPECT_EQ(lumenor({"cancel-sleep"}).out, "No sleep was pending.\n");
    EXPECT_EQ(lumenor({"status"}).out.find("😴"), std::string::npos);
}

TEST(CommandToolAlone, ExitsThreeWhenNoAppRuns) {
    Sandbox sandbox;
    const Finished status = run(toolPath, {"status"}, sandbox.environment(), sandbox);
    EXPECT_EQ(status.status, 3);
    EXPECT_EQ(status.out, "");
    EXPECT_EQ(status.err, "Lumenor isn't running (connect failed: No such file or directory).\n");
}
