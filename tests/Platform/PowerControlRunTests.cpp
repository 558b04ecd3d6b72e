#include "Lumenor/Platform/PowerControl.h"
#include "Platform/PlatformTestSupport.h"

#include <QTest>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using PowerControl::run;
using PowerControl::RunResult;

RunResult shell(const std::string& script, double timeout = 10) {
    return run("/bin/sh", {"-c", script}, timeout);
}

TEST(Run, ReturnsTheStatusAndBothStreamsDecodedAndTrimmedOrWhyItCouldNotRun) {
    EXPECT_EQ(run("/nonexistent/lumenor-tool", {}, 5),
              (RunResult{-1, "Couldn't run /nonexistent/lumenor-tool: No such file or directory"}));
    EXPECT_EQ(shell("echo out; echo err >&2; exit 3"), (RunResult{3, "out\nerr"}));
    // Non-breaking and ideographic spaces are white space too; bad UTF-8 becomes U+FFFD.
    EXPECT_EQ(shell("printf '\\302\\240 a\\377b\\303\\343\\200\\200\\n'").output, "a\uFFFDb\uFFFD");
    EXPECT_EQ(run("/bin/echo", {"a  b", "$HOME"}, 5).output, "a  b $HOME");
    EXPECT_NE(shell("kill -9 $$").code, 0);
}

TEST(Run, TimesOutTerminatesAndReapsTheChild) {
    EXPECT_EQ(shell("exec sleep 30", 0.3), (RunResult{-2, "timed out"}));
    // Neither still running nor left as a zombie: this program has no child left at all.
    siginfo_t child{};
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return ::waitid(P_ALL, 0, &child, WEXITED | WNOHANG | WNOWAIT) != 0; }));
}

TEST(Run, DrainsAChattyChildButNotDescendantsThatKeepThePipeOpen) {
    const RunResult result = shell("head -c 1048576 /dev/zero | tr '\\0' a", 20);
    EXPECT_EQ(result.code, 0);
    EXPECT_EQ(result.output.size(), 1048576u);
    // The shell ends at once; its background child still holds the output pipe.
    EXPECT_EQ(shell("sleep 5 & echo started", 2), (RunResult{0, "started"}));
}

TEST(Run, ChildSeesNoDescriptorsOfOurs) {
    const int leaked = ::open("/dev/null", O_RDONLY); // deliberately without O_CLOEXEC
    ASSERT_GE(leaked, 3);
    const RunResult result =
        shell("test -e /proc/self/fd/" + std::to_string(leaked) + " || echo clean");
    ::close(leaked);
    EXPECT_EQ(result, (RunResult{0, "clean"}));
}

} // namespace
