// How the app comes to serve when nobody started it: a command that asks for something starts
// it.

#include "App/Processes.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QTest>

#include <csignal>
#include <cstring>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace ::testing;

namespace {

/// The process serving `socket` (the peer of a connection to it); 0 when none answers.
pid_t servingProcess(const std::filesystem::path& socket) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socket.c_str(), sizeof address.sun_path - 1);
    ucred peer{};
    socklen_t size = sizeof peer;
    const bool connected =
        ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0;
    ::close(fd);
    return connected ? peer.pid : 0;
}

class StartOnDemand : public ::testing::Test {
protected:
    // An app started on demand is nobody's child: it is stopped here, by its pid.
    void TearDown() override {
        if (const pid_t app = servingProcess(sandbox.socketPath())) {
            ::kill(app, SIGTERM);
            // Whoever reaps orphans here may leave a zombie: the socket says it has gone.
            EXPECT_TRUE(
                QTest::qWaitFor([&] { return servingProcess(sandbox.socketPath()) == 0; }, 10000));
        }
    }

    QProcessEnvironment starting() const {
        QProcessEnvironment environment = sandbox.environment();
        environment.remove("LUMENOR_NO_START");
        return environment;
    }

    Sandbox sandbox;
};

} // namespace

TEST_F(StartOnDemand, OnlyCommandsThatAskForSomethingStartTheAppAndItOutlivesThem) {
    QProcessEnvironment forbidden = starting();
    forbidden.insert("LUMENOR_NO_START", "1");
    for (const auto& [arguments, environment] :
         std::vector<std::pair<QStringList, QProcessEnvironment>>{
             {{"status"}, starting()},
             {{"holds"}, starting()},
             {{"inhibitors"}, starting()},
             {{"off"}, starting()},
             {{"release", "x"}, starting()},
             {{"sleep", "--cancel"}, starting()},
             {{"on", "--no-start"}, starting()},
             {{"on"}, forbidden},
         }) {
        SCOPED_TRACE(arguments.join(' ').toStdString());
        const Finished finished = run(toolPath, arguments, environment);
        EXPECT_EQ(finished.status, 3);
        EXPECT_THAT(finished.err, HasSubstr("\nStart it with `lumenor-app &`"));
    }
    EXPECT_FALSE(std::filesystem::exists(sandbox.socketPath()));

    // Captured output ends with the command: the app keeps none of its streams open. `run`
    // blocks the signals it passes on; the app it starts must still stop on SIGTERM (TearDown).
    const Finished ran =
        run("sh", {"-c", R"(out=$("$TOOL" run -- echo ran) && echo "$out")"}, starting());
    EXPECT_EQ(ran.status, 0) << ran.err;
    EXPECT_EQ(ran.out, "ran\n");
    const pid_t app = servingProcess(sandbox.socketPath());
    ASSERT_NE(app, 0);
    EXPECT_EQ(::getsid(app), app); // a session of its own, so no terminal hang-up ends it
    EXPECT_THAT(run(toolPath, {"on", "--for", "1m"}, starting()).out,
                StartsWith("Keeping the computer awake — Until "));
    EXPECT_EQ(run(toolPath, {"hold", "h"}, starting()).status, 0);
    EXPECT_EQ(servingProcess(sandbox.socketPath()), app);
}
