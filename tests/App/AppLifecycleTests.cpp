// The real app and command, each run in a private home: single instance, take-over of a stale
// socket, orderly termination, and quitting with the reason when the socket cannot be served.

#include "App/Processes.h"

#include <gtest/gtest.h>

#include <QTest>

#include <fstream>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

bool isSocket(const std::filesystem::path& path) {
    std::error_code ignored;
    return std::filesystem::is_socket(path, ignored);
}

} // namespace

TEST(AppLifecycle, ASecondInstanceLeavesTheFirstServing) {
    Sandbox sandbox;
    auto first = startApp(sandbox);
    ASSERT_TRUE(QTest::qWaitFor([&] { return isSocket(sandbox.socketPath()); }, 20000))
        << first->err();

    Child second(appPath, {}, first->processEnvironment());
    EXPECT_EQ(second.waitFor(20000), 0) << second.err();
    EXPECT_EQ(second.err(), "Lumenor is already running.\n");
    EXPECT_EQ(first->waitFor(0), std::nullopt);
    const Finished ping = lumenor(sandbox, {"ping"});
    EXPECT_EQ(ping.status, 0);
    EXPECT_EQ(ping.out, "pong\n");
}

TEST(AppLifecycle, TakesOverAStaleSocketAndRemovesItsOwnOnTermination) {
    // A socket file nobody listens on, as a crashed instance leaves it.
    Sandbox sandbox;
    std::filesystem::create_directories(sandbox.socketPath().parent_path());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    sandbox.socketPath().string().copy(address.sun_path, sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(fd);

    // Without a display the app runs on as a plain event loop.
    auto app = startApp(sandbox, false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return lumenor(sandbox, {"ping"}).status == 0; }, 20000))
        << app->err();
    app->terminate();
    EXPECT_EQ(app->waitFor(30000), 0);
    EXPECT_FALSE(std::filesystem::exists(sandbox.socketPath()));
}

TEST(AppLifecycle, TwentySimultaneousStartsLeaveOneApp) {
    Sandbox sandbox;
    std::vector<std::unique_ptr<Child>> apps;
    for (int i = 0; i < 20; ++i) {
        apps.push_back(startApp(sandbox, false));
    }
    int left = 0;
    for (auto& app : apps) {
        if (const auto status = app->waitFor(20000)) {
            EXPECT_EQ(*status, 0);
            EXPECT_EQ(app->err(), "Lumenor is already running.\n");
            ++left;
        }
    }
    EXPECT_EQ(left, 19);
    EXPECT_EQ(lumenor(sandbox, {"ping"}).out, "pong\n");
}

TEST(AppLifecycle, QuitsNamingThePathAndCauseWhenItCannotServe) {
    struct Case {
        std::size_t homeLength;
        std::filesystem::path fileInTheWay; // relative to the home
        std::string message;                // after the home
    };
    const Case cases[] = {
        {80, {}, ""},
        {0, ".local/state/lumenor/lumenor.sock", ""},
        {0, ".local/state/lumenor", ""},
    };
    for (const Case& c : cases) {
        Sandbox sandbox(c.homeLength);
        const std::string socket = sandbox.socketPath().string();
        if (!c.fileInTheWay.empty()) {
            std::filesystem::create_directories((sandbox.home() / c.fileInTheWay).parent_path());
            std::ofstream(sandbox.home() / c.fileInTheWay) << "not a socket";
        }
        auto app = startApp(sandbox);
        EXPECT_EQ(app->waitFor(20000), 1) << socket;
        const std::string expected =
            c.homeLength > 0
                ? "Lumenor can't serve its control socket at " + socket + ": path too long (" +
                      std::to_string(socket.size()) + " bytes; a socket path holds at most 103).\n"
            : c.fileInTheWay.filename() == "lumenor.sock"
                ? "Lumenor can't serve its control socket at " + socket +
                      ": a file is in the way.\n"
                : "Lumenor can't use its folder " + sandbox.socketPath().parent_path().string() +
                      ": a file is in the way.\n";
        EXPECT_TRUE(app->err().ends_with(expected)) << app->err();
    }
}

TEST(AppLifecycle, WithoutLogindTheCommandSaysItCannotKeepAwakeAndFails) {
    Sandbox sandbox;
    sandbox.withLogind = false;
    auto app = startApp(sandbox, false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return lumenor(sandbox, {"ping"}).status == 0; }, 20000))
        << app->err();
    const Finished on = lumenor(sandbox, {"on", "--for", "1h"});
    EXPECT_EQ(on.status, 1);
    EXPECT_TRUE(on.err.starts_with("Couldn't keep the computer awake: no login manager (logind) "
                                   "on the system bus. "))
        << on.err << on.out;
    EXPECT_NE(lumenor(sandbox, {"status"}).out.find("🌙 Normal"), std::string::npos);
}

TEST(AppLifecycle, CommandExitsThreeWhenNoAppRuns) {
    Sandbox sandbox;
    const Finished status = lumenor(sandbox, {"status"});
    EXPECT_EQ(status.status, 3);
    EXPECT_EQ(status.out, "");
    EXPECT_EQ(status.err, "Lumenor isn't running (connect failed: No such file or directory).\n");
}

TEST(AppLifecycle, QuitsInOrderWhileRequestsKeepArriving) {
    Sandbox sandbox;
    auto app = startApp(sandbox, false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return lumenor(sandbox, {"ping"}).status == 0; }, 20000))
        << app->err();
    // Eight clients keep asking while the app quits: a request waiting for the main thread
    // must not hold up the shutdown, nor reach a controller that is shutting down.
    QProcessEnvironment environment = sandbox.environment();
    environment.insert("TOOL", toolPath);
    Child clients("/bin/sh",
                  {"-c", "for c in 1 2 3 4 5 6 7 8; do (for i in $(seq 150); do \"$TOOL\" status "
                         ">/dev/null 2>&1; done) & done; wait"},
                  environment);
    QTest::qWait(300);
    app->terminate();
    EXPECT_EQ(app->waitFor(30000), 0) << app->err();
    EXPECT_FALSE(std::filesystem::exists(sandbox.socketPath()));
    EXPECT_EQ(clients.waitFor(60000), 0);
}
