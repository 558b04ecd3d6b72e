// The real app and command, each run in a private home: single instance, take-over of a stale
// socket, orderly termination, and quitting with the reason when the socket cannot be served.

#include "App/Processes.h"

#include "LumenorCore/LumenorClient.h"

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

// With a display the running app shows its panel; without one it says why it cannot.
TEST(AppLifecycle, ASecondInstanceAsksForThePanelAndLeavesTheFirstServing) {
    const std::string noPanel =
        ": Lumenor runs without a display here, so there is no panel to show.";
    for (const bool display : {true, false}) {
        Sandbox sandbox;
        auto first = startApp(sandbox, display);
        ASSERT_TRUE(QTest::qWaitFor([&] { return isSocket(sandbox.socketPath()); }, 20000))
            << first->err();

        Child second(appPath, {}, first->processEnvironment());
        EXPECT_EQ(second.waitFor(20000), 0) << second.err();
        EXPECT_EQ(second.err(), "Lumenor is already running" + (display ? "." : noPanel) + "\n");
        EXPECT_EQ(first->waitFor(0), std::nullopt);
        const LumenorResponse shown =
            LumenorClient::send({.command = "show", .options = {}}, sandbox.socketPath(), 5);
        EXPECT_EQ(shown.ok, display) << shown.message;
        EXPECT_TRUE(shown.status.has_value());
        const Finished ping = lumenor(sandbox, {"ping"});
        EXPECT_EQ(ping.status, 0);
        EXPECT_EQ(ping.out, "pong\n");
    }
}

TEST(AppLifecycle, HelpAndVersionPrintAndExitWithoutServing) {
    Sandbox sandbox;
    for (const auto& [option, text] :
         {std::pair{"--help", "Usage: lumenor-app [--snapshot FILE [light]]\n"},
          std::pair{"--version", "Lumenor 0."}}) {
        const Finished finished = run(appPath, {option}, sandbox.environment());
        EXPECT_EQ(finished.status, 0) << option;
        EXPECT_TRUE(finished.out.starts_with(text)) << finished.out;
    }
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
            // Whether the winner could show its panel yet varies; the first words do not.
            EXPECT_TRUE(app->err().starts_with("Lumenor is already running")) << app->err();
            ++left;
        }
    }
    EXPECT_EQ(left, 19);
    EXPECT_EQ(lumenor(sandbox, {"ping"}).out, "pong\n");
}

TEST(AppLifecycle, QuitsNamingThePathAndCauseWhenItCannotServe) {
    struct Case {
        std::size_t homeLength;
        const char* fileInTheWay;
        const char* cause;
    };
    // A home long enough for a 114-byte socket path, a file at the socket, a file at the folder.
    for (const Case& c :
         {Case{80, nullptr, "path too long (114 bytes; a socket path holds at most 103)"},
          Case{0, ".local/state/lumenor/lumenor.sock", "a file is in the way"},
          Case{0, ".local/state/lumenor", "a file is in the way"}}) {
        Sandbox sandbox(c.homeLength);
        const std::filesystem::path socket = sandbox.socketPath();
        const bool folderBlocked =
            c.fileInTheWay && socket.parent_path() == sandbox.home() / c.fileInTheWay;
        if (c.fileInTheWay) {
            std::filesystem::create_directories((sandbox.home() / c.fileInTheWay).parent_path());
            std::ofstream(sandbox.home() / c.fileInTheWay) << "not a socket";
        }
        auto app = startApp(sandbox, false);
        EXPECT_EQ(app->waitFor(20000), 1);
        const std::string expected =
            folderBlocked ? "Lumenor can't use its folder " + socket.parent_path().string()
                          : "Lumenor can't serve its control socket at " + socket.string();
        EXPECT_TRUE(app->err().ends_with(expected + ": " + c.cause + ".\n")) << app->err();
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
    EXPECT_NE(lumenor(sandbox, {"status"}).out.find("Normal — the computer follows"),
              std::string::npos);
}

TEST(AppLifecycle, TakesOverAStaleSocketAndQuitsInOrderWhileRequestsKeepArriving) {
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
    // Eight clients keep asking while the app quits: a request waiting for the main thread
    // must not hold up the shutdown, nor reach a controller that is shutting down.
    QProcessEnvironment environment = sandbox.environment();
    environment.insert("TOOL", toolPath);
    Child clients("/bin/sh",
                  // Each stops once the app is gone (exit 3), so a slow build does not
                  // spend its time asking nobody.
                  {"-c", "for c in 1 2 3 4 5 6 7 8; do (for i in $(seq 150); do \"$TOOL\" status "
                         ">/dev/null 2>&1; [ $? -eq 3 ] && break; done) & done; wait"},
                  environment);
    QTest::qWait(300);
    app->terminate();
    EXPECT_EQ(app->waitFor(30000), 0) << app->err();
    EXPECT_FALSE(std::filesystem::exists(sandbox.socketPath()));
    EXPECT_EQ(clients.waitFor(60000), 0);
}
