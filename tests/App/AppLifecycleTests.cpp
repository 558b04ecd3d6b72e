// The real app and command, each run in a private home: single instance, take-over of a stale
// socket, orderly termination, and quitting with the reason when the socket cannot be served.

#include "App/Processes.h"

#include <gtest/gtest.h>

#include <QTest>

// With a display the running app shows its panel; without one it says why it cannot. The
// support folder removed under it, it makes its socket and lock again, so it stays reachable
// and a second app still finds it running. A huge settings file is set aside.
TEST(AppLifecycle, OneInstanceTakesOverAStaleSocketRemakesAGoneOneAndQuitsInOrderUnderLoad) {
    const std::string noPanel =
        ": Lumenor runs without a display here, so there is no panel to show.";
    for (const bool display : {true, false}) {
        // A socket file nobody listens on, as a crashed instance leaves it.
        Sandbox sandbox;
        std::filesystem::create_directories(sandbox.socketPath().parent_path());
        const Finished stale =
            run("python3",
                {"-c", "import socket, sys; socket.socket(socket.AF_UNIX).bind(sys.argv[1])",
                 QString::fromStdString(sandbox.socketPath().string())},
                sandbox.environment());
        ASSERT_EQ(stale.status, 0) << stale.err;
        const auto settings = sandbox.home() / ".config/Lumenor/Lumenor.conf";
        writeFile(settings, std::string(70'000, '#'));
        auto first = startApp(sandbox, display);
        ASSERT_TRUE(QTest::qWaitFor([&] { return lumenor(sandbox, {"ping"}).status == 0; }, 20000))
            << first->err();
        EXPECT_TRUE(std::filesystem::exists(settings.string() + ".bad"));
        std::filesystem::rename(sandbox.socketPath().parent_path(), sandbox.home() / "gone");
        EXPECT_TRUE(QTest::qWaitFor([&] { return lumenor(sandbox, {"ping"}).status == 0; }, 10000));

        Child second(appPath, {}, first->processEnvironment());
        EXPECT_EQ(second.waitFor(20000), 0) << second.err();
        EXPECT_EQ(second.err(), "Lumenor is already running" + (display ? "." : noPanel) + "\n");
        EXPECT_EQ(lumenor(sandbox, {"show"}).status, display ? 0 : 1);

        // Eight clients keep asking while the app quits: a request waiting for the main thread
        // must not hold up the shutdown, nor reach a controller that is shutting down.
        Child clients("/bin/sh",
                      // Each stops once the app is gone (exit 3), so a slow build does not
                      // spend its time asking nobody.
                      {"-c", "for c in 1 2 3 4 5 6 7 8; do (for i in $(seq 150); do \"$TOOL\" "
                             "status >/dev/null 2>&1; [ $? -eq 3 ] && break; done) & done; wait"},
                      sandbox.environment());
        QTest::qWait(300);
        first->terminate();
        EXPECT_EQ(first->waitFor(30000), 0) << first->err();
        EXPECT_FALSE(std::filesystem::exists(sandbox.socketPath()));
        EXPECT_EQ(clients.waitFor(60000), 0);
    }
}

// Help and version from the app, and the command's answer when no app serves.
TEST(AppLifecycle, WithoutAnAppServingEachProgramAnswersOnItsStreams) {
    Sandbox sandbox;
    const std::string absent = "Lumenor isn't running (connect failed: No such file or directory)";
    for (const auto& [program, arguments, expected] :
         std::vector<std::tuple<QString, QStringList, Finished>>{
             {appPath,
              {"--help"},
              {0, "Usage: lumenor-app [--background | --snapshot FILE [light]]\n", ""}},
             {appPath, {"--version"}, {0, "Lumenor 0.", ""}},
             {toolPath,
              {"help", "run"},
              {0, "Usage: lumenor run [OPTIONS] -- COMMAND [ARGUMENT…]\n", ""}},
             {toolPath,
              {"status"},
              {3, "",
               absent + ".\nStart it with `lumenor-app &`, or let a command that asks for "
                        "something (such as `lumenor on`) start it.\n"}},
             {toolPath, {"status", "--json"}, {3, R"({"exit":3,"message":")" + absent, ""}},
         }) {
        SCOPED_TRACE(arguments.join(' ').toStdString());
        expectOutcome(run(program, arguments, sandbox.environment()), expected);
    }
    EXPECT_FALSE(std::filesystem::exists(sandbox.socketPath()));
}

// Whichever wins serves on without logind on the bus, but cannot keep the computer awake.
TEST(AppLifecycle, TwentySimultaneousStartsLeaveOneAppThatWithoutLogindCannotKeepAwake) {
    Sandbox sandbox;
    sandbox.withLogind = false;
    std::vector<std::unique_ptr<Child>> apps;
    for (int i = 0; i < 20; ++i)
        apps.push_back(startApp(sandbox, false));
    int left = 0;
    for (auto& app : apps)
        if (const auto status = app->waitFor(20000)) {
            EXPECT_EQ(*status, 0);
            // Whether the winner could show its panel yet varies; the first words do not.
            EXPECT_TRUE(app->err().starts_with("Lumenor is already running")) << app->err();
            ++left;
        }
    EXPECT_EQ(left, 19);
    const Finished on = lumenor(sandbox, {"on", "--for", "1h"});
    EXPECT_EQ(on.status, 1);
    EXPECT_TRUE(on.err.starts_with("Couldn't keep the computer awake: no login manager (logind) "
                                   "on the system bus. "))
        << on.err << on.out;
    EXPECT_TRUE(lumenor(sandbox, {"status"}).out.starts_with("Normal — the computer follows"));
}

// A home long enough for a 114-byte socket path, then a file at the socket, and at its folder.
TEST(AppLifecycle, QuitsNamingThePathAndCauseWhenItCannotServe) {
    for (const std::string blocked : {"", "socket", "folder"}) {
        Sandbox sandbox(blocked.empty() ? 80 : 0);
        const std::filesystem::path socket = sandbox.socketPath();
        const std::filesystem::path file = blocked == "socket" ? socket : socket.parent_path();
        if (!blocked.empty())
            writeFile(file, "not a socket");
        auto app = startApp(sandbox, false);
        EXPECT_EQ(app->waitFor(20000), 1);
        const std::string expected =
            blocked == "folder"
                ? "Lumenor can't use its folder " + file.string() + ": a file is in the way.\n"
                : "Lumenor can't serve its control socket at " + socket.string() +
                      (blocked.empty()
                           ? ": path too long (114 bytes; a socket path holds at most 103).\n"
                           : ": a file is in the way.\n");
        EXPECT_TRUE(app->err().ends_with(expected)) << app->err();
    }
}
