// The real app and command, each run in a private home: single instance, take-over of a stale
// socket, orderly termination, and serving on without a socket.

#include "App/Processes.h"

#include "LumenorCore/LumenorClient.h"

#include <gtest/gtest.h>

#include <QTest>

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
    EXPECT_EQ(second.err(), ""); // the first one showed its panel
    EXPECT_EQ(first->waitFor(0), std::nullopt);
    const LumenorResponse shown =
        LumenorClient::send({.command = "show", .options = {}}, sandbox.socketPath(), 5);
    EXPECT_TRUE(shown.ok) << shown.message;
    EXPECT_TRUE(shown.status.has_value());
    const Finished ping = lumenor(sandbox, {"ping"});
    EXPECT_EQ(ping.status, 0);
    EXPECT_EQ(ping.out, "pong\n");
}

TEST(AppLifecycle, HelpAndVersionPrintAndExitWithoutServing) {
    Sandbox sandbox;
    for (const auto& [option, text] :
         {std::pair{"--help", "Usage: Lumenor [--snapshot FILE [light]]\n"},
          std::pair{"--version", "Lumenor 0."}}) {
        const Finished finished = run(appPath, {option}, sandbox.environment());
        EXPECT_EQ(finished.status, 0) << option;
        EXPECT_TRUE(finished.out.starts_with(text)) << finished.out;
    }
    EXPECT_FALSE(std::filesystem::exists(sandbox.socketPath()));
}

TEST(AppLifecycle, ASecondLaunchWithoutADisplaySaysThereIsNoPanel) {
    Sandbox sandbox;
    auto first = startApp(sandbox, false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return isSocket(sandbox.socketPath()); }, 20000))
        << first->err();
    Child second(appPath, {}, sandbox.environment());
    EXPECT_EQ(second.waitFor(20000), 0);
    EXPECT_EQ(second.err(), "Lumenor is already running: Lumenor runs without a display here, "
                            "so there is no panel to show.\n");
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

TEST(AppLifecycle, ServesOnWithoutASocketWhosePathIsTooLong) {
    Sandbox sandbox(80);
    ASSERT_GT(sandbox.socketPath().string().size(), 103u);
    auto app = startApp(sandbox);
    const auto log = sandbox.home() / "Library/Application Support/Lumenor/lumenor.log";
    const std::string warning = "⚠️ Couldn't open control socket: socket path too long";
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return readFile(log).find(warning) != std::string::npos; }, 20000))
        << "log: " << readFile(log) << "\napp: " << app->err();
    EXPECT_EQ(app->waitFor(500), std::nullopt) << "the app must keep running";
    const Finished status = lumenor(sandbox, {"status"});
    EXPECT_EQ(status.status, 3);
    EXPECT_EQ(status.err, "Lumenor can't be reached (socket path too long).\n");
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
