// The real app and command, each run in a private home: launch, single instance, take-over of a
// stale socket, orderly termination, and serving on without a socket.

#include "App/Processes.h"
#include "LumenorCore/LumenorClient.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <memory>
#include <thread>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

const std::string appPath = LUMENOR_BINARY_DIR "/Lumenor.app/Contents/MacOS/Lumenor";
const std::string toolPath = LUMENOR_BINARY_DIR "/Lumenor.app/Contents/Helpers/lumenor";

const std::vector<std::string> offscreen{"QT_QPA_PLATFORM=offscreen"};

bool isSocket(const std::filesystem::path& path) {
    std::error_code ignored;
    return std::filesystem::is_socket(path, ignored);
}

Finished lumenor(Sandbox& sandbox, const std::vector<std::string>& arguments) {
    return run(toolPath, arguments, sandbox.environment(), sandbox);
}

std::unique_ptr<Child> startApp(Sandbox& sandbox,
                                const std::vector<std::string>& extra = offscreen) {
    auto app = std::make_unique<Child>(appPath, std::vector<std::string>{},
                                       sandbox.environment(extra), sandbox);
    EXPECT_TRUE(eventually([&] { return isSocket(sandbox.socketPath()); }))
        << "no socket; app said: " << app->err();
    return app;
}

/// A socket file nobody listens on, as a crashed instance leaves it.
void leaveStaleSocket(const std::filesystem::path& path) {
    std::filesystem::create_directories(path.parent_path());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.string().copy(address.sun_path, sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(fd);
}

} // namespace

TEST(AppLifecycle, ASecondInstanceLeavesTheFirstServing) {
    Sandbox sandbox;
    auto first = startApp(sandbox);
    ASSERT_EQ(lumenor(sandbox, {"ping"}).out, "pong\n");

    Child second(appPath, {}, sandbox.environment(offscreen), sandbox);
    EXPECT_EQ(second.waitFor(20s), 0) << second.err();

    EXPECT_TRUE(first->running());
    EXPECT_TRUE(isSocket(sandbox.socketPath()));
    const Finished ping = lumenor(sandbox, {"ping"});
    EXPECT_EQ(ping.status, 0);
    EXPECT_EQ(ping.out, "pong\n");
}

TEST(AppLifecycle, TakesOverAStaleSocketAndRemovesItsOwnOnTermination) {
    Sandbox sandbox;
    leaveStaleSocket(sandbox.socketPath());
    ASSERT_EQ(lumenor(sandbox, {"ping"}).status, 3);

    // Without a display the app runs on as a plain event loop, and says so once.
    auto app = startApp(sandbox, {});
    ASSERT_TRUE(eventually([&] { return lumenor(sandbox, {"ping"}).status == 0; })) << app->err();

    app->signal(SIGTERM);
    EXPECT_EQ(app->waitFor(30s), 0);
    EXPECT_FALSE(std::filesystem::exists(sandbox.socketPath()));
    const std::string said = app->err();
    const std::string notice = "no display available";
    ASSERT_NE(said.find(notice), std::string::npos) << said;
    EXPECT_EQ(said.find(notice, said.find(notice) + 1), std::string::npos) << said;

    const Finished after = lumenor(sandbox, {"status"});
    EXPECT_EQ(after.status, 3);
    EXPECT_TRUE(after.err.starts_with("Lumenor isn't running (connect failed: ")) << after.err;
}

TEST(AppLifecycle, InterruptAlsoShutsDownInOrder) {
    Sandbox sandbox;
    auto app = startApp(sandbox);
    ASSERT_EQ(lumenor(sandbox, {"hold", "task", "--for", "1h"}).status, 0);
    app->signal(SIGINT);
    EXPECT_EQ(app->waitFor(30s), 0);
    EXPECT_FALSE(std::filesystem::exists(sandbox.socketPath()));
}

TEST(AppLifecycle, ServesOnWithoutASocketWhosePathIsTooLong) {
    Sandbox sandbox(80);
    ASSERT_GT(sandbox.socketPath().string().size(), 103u);
    Child app(appPath, {}, sandbox.environment(offscreen), sandbox);

    const std::string warning = "⚠️ Couldn't open control socket: socket path too long";
    EXPECT_TRUE(eventually([&] {
        return readFile(sandbox.logFile()).find(warning) != std::string::npos;
    })) << "log: "
        << readFile(sandbox.logFile()) << "\napp: " << app.err();
    EXPECT_FALSE(app.waitFor(500ms).has_value()) << "the app must keep running";

    const Finished status = lumenor(sandbox, {"status"});
    EXPECT_EQ(status.status, 3);
    EXPECT_EQ(status.err, "Lumenor can't be reached (socket path too long).\n");

    app.signal(SIGTERM);
    EXPECT_EQ(app.waitFor(30s), 0);
}

TEST(AppLifecycle, QuitsInOrderWhileRequestsKeepArriving) {
    Sandbox sandbox;
    auto app = startApp(sandbox);
    const std::string path = sandbox.socketPath().string();
    std::atomic<bool> quitSent = false;
    std::atomic<int> answered = 0;
    std::atomic<int> wrongAnswers = 0;
    std::vector<std::thread> clients;
    for (int client = 0; client < 8; ++client) {
        clients.emplace_back([&] {
            // Until the socket is gone: connection threads are waiting on the main thread
            // while it shuts down, which must neither hang it nor reach the stopped controller.
            for (;;) {
                try {
                    const LumenorResponse reply =
                        LumenorClient::send({.command = "status", .options = {}}, path, 5);
                    ++answered;
                    const bool fine = reply.ok || reply.message == "Lumenor is quitting.";
                    wrongAnswers += fine ? 0 : 1;
                } catch (const std::exception&) {
                    if (quitSent) {
                        return;
                    }
                }
            }
        });
    }
    const bool busy = eventually([&] { return answered > 50; });
    quitSent = true;
    app->signal(SIGTERM);
    EXPECT_EQ(app->waitFor(30s), 0) << app->err();
    for (auto& client : clients) {
        client.join();
    }
    EXPECT_TRUE(busy);
    EXPECT_EQ(wrongAnswers, 0);
    EXPECT_FALSE(std::filesystem::exists(sandbox.socketPath()));
}
