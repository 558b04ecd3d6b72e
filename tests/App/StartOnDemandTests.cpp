// How the app comes to serve when nobody started it: a command that asks for something starts
// it, and a socket handed over by systemd is served as it is.

#include "App/Processes.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QStandardPaths>
#include <QTest>

#include <csignal>
#include <cstring>

#include <sys/socket.h>
#include <sys/stat.h>
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

// Which commands may start it is the command line's test; here, that the command obeys.
TEST_F(StartOnDemand, OnlyCommandsThatAskForSomethingStartTheAppAndItOutlivesThem) {
    const QProcessEnvironment forbidden = sandbox.environment(); // it sets LUMENOR_NO_START
    for (const auto& [arguments, environment] :
         std::vector<std::pair<QStringList, QProcessEnvironment>>{
             {{"status"}, starting()}, {{"on", "--no-start"}, starting()}, {{"on"}, forbidden}}) {
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

// systemd-socket-activate binds as the socket unit would and starts the app with the socket
// as descriptor 3; the app must serve that very socket, not replace it with its own.
TEST_F(StartOnDemand, TheAppServesTheSocketSystemdHandsOver) {
    const QString activate = QStandardPaths::findExecutable("systemd-socket-activate");
    if (activate.isEmpty())
        GTEST_SKIP() << "systemd-socket-activate is not installed (Debian's systemd package)";
    const std::filesystem::path socket = sandbox.socketPath();
    std::filesystem::create_directories(socket.parent_path());
    std::filesystem::permissions(socket.parent_path(), std::filesystem::perms::owner_all);
    // Like systemd, it passes on only the environment it is told to.
    QStringList arguments{"-l", QString::fromStdString(socket.string())};
    for (const char* name : {"LUMENOR_HOME", "DBUS_SYSTEM_BUS_ADDRESS", "DBUS_SESSION_BUS_ADDRESS"})
        arguments << "-E" << name;
    Child activator(activate, arguments << appPath, sandbox.environment());
    ASSERT_TRUE(QTest::qWaitFor([&] { return std::filesystem::exists(socket); }, 10000));
    struct stat before {};
    ::stat(socket.c_str(), &before);
    ASSERT_TRUE(QTest::qWaitFor([&] { return lumenor(sandbox, {"ping"}).status == 0; }, 20000))
        << activator.err();
    struct stat after {};
    ::stat(socket.c_str(), &after);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(lumenor(sandbox, {"hold", "h"}).status, 0);
    // It runs as the app itself: stopped, it leaves the socket file to systemd.
    activator.terminate();
    EXPECT_EQ(activator.waitFor(10000), 0) << activator.err();
    EXPECT_TRUE(std::filesystem::exists(socket));
}
