// The administrator prompt and the helper checks, with a stand-in dialog tool.
#include "Lumenor/Platform/PowerControl.h"
#include "Lumenor/Platform/PowerControlDetail.h"
#include "LumenorCore/PrivilegedInstall.h"
#include "Platform/PlatformTestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sys/stat.h>

namespace {

using PowerControl::SetupError;

/// Runs `call` and returns the SetupError it throws; fails the test when it throws none.
template <typename Call> std::optional<SetupError> setupError(Call call) {
    try {
        call();
    } catch (const SetupError& error) {
        return error;
    }
    ADD_FAILURE() << "no SetupError";
    return std::nullopt;
}

/// A dialog tool that records its arguments and answers with `body`.
std::string standIn(const TemporaryFolder& folder, const std::string& body) {
    const auto tool =
        folder.write("osascript", "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" +
                                      (folder.path() / "args").string() + "'\n" + body + "\n");
    ::chmod(tool.c_str(), 0755);
    return tool.string();
}

std::string recordedArguments(const TemporaryFolder& folder) {
    std::ifstream stream(folder.path() / "args");
    return {std::istreambuf_iterator<char>(stream), {}};
}

TEST(Setup, WithoutTheDialogToolSaysWhatIsMissing) {
    const auto error = setupError([] { PowerControl::runAsAdmin("true", "Lumenor test"); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind(), SetupError::Kind::failed);
    EXPECT_STREQ(error->what(), "Lumenor can't ask for administrator approval on this system: "
                                "/usr/bin/osascript is missing.");
}

TEST(Setup, HandsTheScriptToTheDialogAsOneAppleScriptCommand) {
    TemporaryFolder folder;
    PowerControl::detail::runAsAdminWith(standIn(folder, "exit 0"), "echo hi",
                                         "Lumenor will remove its helper.");
    EXPECT_EQ(recordedArguments(folder),
              "-e\ndo shell script \"" + PrivilegedInstall::inlineCommand("echo hi") +
                  "\" with prompt \"Lumenor will remove its helper.\" with administrator "
                  "privileges\n");

    // A prompt cannot end the string literal it is placed in.
    PowerControl::detail::runAsAdminWith(standIn(folder, "exit 0"), "true", "say \"hi\\");
    EXPECT_NE(recordedArguments(folder).find("with prompt \"say \\\"hi\\\\\" with"),
              std::string::npos);
}

TEST(Setup, RefusalsBecomeFailuresWithTheToolsTextOrACancelNote) {
    TemporaryFolder folder;
    auto error = setupError([&] {
        PowerControl::detail::runAsAdminWith(
            standIn(folder, "echo '0:1: execution error: User canceled. (-128)' >&2; exit 1"),
            "true", "p");
    });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind(), SetupError::Kind::failed);
    EXPECT_STREQ(error->what(), "0:1: execution error: User canceled. (-128)");

    error = setupError(
        [&] { PowerControl::detail::runAsAdminWith(standIn(folder, "exit 1"), "true", "p"); });
    ASSERT_TRUE(error);
    EXPECT_STREQ(error->what(), "Setup was cancelled.");
}

TEST(Setup, UnsafeUserNamesAreRefusedBeforeAnyPrompt) {
    for (const std::string user : {"", "john smith", "a:b", "root\nALL"}) {
        const auto error = setupError([&] { PowerControl::detail::installHelperFor(user, 10); });
        ASSERT_TRUE(error);
        EXPECT_EQ(error->kind(), SetupError::Kind::badUser) << user;
        EXPECT_STREQ(error->what(), "Unsupported user name for sudoers.");
    }
    // A safe name gets as far as the prompt, which this system lacks.
    const auto error = setupError([] { PowerControl::detail::installHelperFor("alice", 10); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind(), SetupError::Kind::failed);
}

TEST(DisplaySleep, NeedsAnXDisplayAndXset) {
    TemporaryFolder folder;
    const auto xset = folder.write("xset", "#!/bin/sh\necho \"xset $*\"\n");
    ::chmod(xset.c_str(), 0755);
    const std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
    ::setenv("PATH", folder.path().c_str(), 1);
    ::unsetenv("DISPLAY");
    PowerControl::RunResult result = PowerControl::displaySleepNow();
    EXPECT_NE(result.code, 0);
    EXPECT_NE(result.output.find("DISPLAY"), std::string::npos) << result.output;

    ::setenv("DISPLAY", ":0", 1);
    EXPECT_EQ(PowerControl::displaySleepNow(), (PowerControl::RunResult{0, "xset dpms force off"}));
    std::filesystem::remove(xset);
    result = PowerControl::displaySleepNow();
    EXPECT_NE(result.code, 0);
    EXPECT_NE(result.output.find("xset"), std::string::npos) << result.output;
    ::setenv("PATH", path.c_str(), 1);
}

} // namespace
