#include "Lumenor/Platform/PowerControl.h"
#include "Platform/PlatformTestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <fstream>
#include <future>
#include <unistd.h>

namespace {

using PowerControl::run;
using PowerControl::RunResult;

RunResult shell(const std::string& script, double timeout = 10) {
    return run("/bin/sh", {"-c", script}, timeout);
}

/// Whether the process is still in the process table, a zombie included.
bool processExists(pid_t pid) {
    return std::filesystem::exists("/proc/" + std::to_string(pid) + "/stat");
}

TEST(Run, ReportsLaunchFailuresWithTheToolAndTheReason) {
    RunResult missing = run("/nonexistent/lumenor-tool", {}, 5);
    EXPECT_EQ(missing.code, -1);
    EXPECT_NE(missing.output.find("/nonexistent/lumenor-tool"), std::string::npos);
    EXPECT_NE(missing.output.find("No such file or directory"), std::string::npos);

    TemporaryFolder folder;
    const auto notExecutable = folder.write("tool", "#!/bin/sh\necho hi\n");
    RunResult refused = run(notExecutable.string(), {}, 5);
    EXPECT_EQ(refused.code, -1);
    EXPECT_NE(refused.output.find("Permission denied"), std::string::npos) << refused.output;
}

TEST(Run, ReturnsExitStatusAndBothStreamsTrimmed) {
    EXPECT_EQ(shell("printf '  ok\\n'"), (RunResult{0, "ok"}));
    EXPECT_EQ(shell("echo out; echo err >&2; exit 3"), (RunResult{3, "out\nerr"}));
    EXPECT_EQ(shell("printf ' \\t\\r\\n'; exit 255"), (RunResult{255, ""}));
    // Non-breaking and ideographic spaces are white space too.
    EXPECT_EQ(shell("printf '\\302\\240 x y\\343\\200\\200\\n'").output, "x y");
    EXPECT_EQ(run("/bin/echo", {"a b", "$HOME", "\"q\""}, 5).output, "a b $HOME \"q\"");
    const RunResult killed = shell("kill -9 $$");
    EXPECT_NE(killed.code, 0);
}

TEST(Run, ReplacesInvalidUtf8) {
    EXPECT_EQ(shell("printf 'a\\377b\\303'").output, "a\xEF\xBF\xBD"
                                                     "b\xEF\xBF\xBD");
}

TEST(Run, TimesOutTerminatesAndReapsTheChild) {
    TemporaryFolder folder;
    const auto pidFile = folder.path() / "pid";
    const RunResult result = shell("echo $$ > '" + pidFile.string() + "'; exec sleep 30", 0.3);
    EXPECT_EQ(result, (RunResult{-2, "timed out"}));
    pid_t pid = 0;
    std::ifstream(pidFile) >> pid;
    ASSERT_GT(pid, 0);
    // Neither still running nor left as a zombie.
    EXPECT_TRUE(waitUntil([&] { return !processExists(pid); }));
}

TEST(Run, DrainsAChattyChildWhileItRuns) {
    const RunResult result = shell("head -c 1048576 /dev/zero | tr '\\0' a", 20);
    EXPECT_EQ(result.code, 0);
    EXPECT_EQ(result.output.size(), 1048576u);
}

TEST(Run, DoesNotWaitForDescendantsThatKeepThePipeOpen) {
    // The shell ends at once; its background child still holds the output pipe.
    const RunResult result = shell("sleep 5 & echo started", 2);
    EXPECT_EQ(result, (RunResult{0, "started"}));
}

TEST(Run, ChildSeesNoDescriptorsOfOurs) {
    const int leaked = ::open("/dev/null", O_RDONLY); // deliberately without O_CLOEXEC
    ASSERT_GE(leaked, 3);
    const RunResult result =
        shell("test -e /proc/self/fd/" + std::to_string(leaked) + " && echo leaked || echo clean");
    ::close(leaked);
    EXPECT_EQ(result.output, "clean");
}

TEST(Run, ConcurrentCallsKeepTheirOwnOutput) {
    std::vector<std::future<RunResult>> results;
    for (int i = 0; i < 6; ++i) {
        results.push_back(std::async(std::launch::async, [i] {
            return shell("sleep 0.0" + std::to_string(6 - i) + "; echo " + std::to_string(i));
        }));
    }
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(results[i].get(), (RunResult{0, std::to_string(i)}));
    }
}

} // namespace
