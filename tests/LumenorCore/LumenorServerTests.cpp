#include "LumenorCore/LumenorClient.h"
#include "LumenorCore/LumenorJSON.h"
#include "LumenorCore/LumenorServer.h"
#include "LumenorCore/UnixSocketError.h"
#include "ShellSandbox.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <mutex>
#include <thread>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace std::chrono_literals;
using namespace std::string_literals;
namespace fs = std::filesystem;

namespace {

const LumenorRequest ping{"ping", {}};
const std::string pongLine = "{\"message\":\"ping\",\"ok\":true}\n";
const std::string malformedLine = "{\"message\":\"Malformed request\",\"ok\":false}\n";

LumenorResponse echo(const LumenorRequest& request) {
    std::string message = request.command;
    for (const auto& [name, value] : request.options)
        message += " " + name + "=" + value;
    return {true, message};
}

std::string requestLine(const std::string& command) {
    return "{\"command\":\"" + command + "\",\"options\":{}}\n";
}

// The raw side uses plain system calls, so the server is checked against no code of its own:
// a socket bound or connected (`attach`) to `path`, or -1.
int rawSocket(const std::string& path, int (*attach)(int, const sockaddr*, socklen_t)) {
    sockaddr_un address{AF_UNIX, {}};
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    return attach(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 ? fd : -1;
}

// Everything the peer writes until it closes, or what came before `timeout`; "[reset]" marks a
// connection reset instead of an orderly end.
std::string readAll(int fd, std::chrono::milliseconds timeout = 5s) {
    std::string received;
    char buffer[4096];
    pollfd watched{fd, POLLIN, 0};
    ssize_t got = 0;
    while (::poll(&watched, 1, int(timeout.count())) > 0 &&
           (got = ::read(fd, buffer, sizeof buffer)) > 0)
        received.append(buffer, std::size_t(got));
    return got < 0 ? received + "[reset]" : received;
}

// Sends `bytes`, waits `pause` (time for the server to close early), and reads the answer.
std::string converse(const std::string& path, const std::string& bytes,
                     std::chrono::milliseconds pause = 0ms) {
    const int fd = rawSocket(path, ::connect);
    EXPECT_NE(fd, -1);
    ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    std::this_thread::sleep_for(pause);
    std::string answer = readAll(fd);
    ::close(fd);
    return answer;
}

// A socket file nothing listens on (as a crashed instance leaves), or with `backlog` one that
// is never served.
int socketFileAt(const std::string& path, int backlog = 0) {
    fs::create_directories(fs::path(path).parent_path());
    const int fd = rawSocket(path, ::bind);
    EXPECT_NE(fd, -1);
    if (backlog == 0)
        return ::close(fd);
    EXPECT_EQ(::listen(fd, backlog), 0);
    return fd;
}

// "<kind> [<errno>]: <description>" of the transport error `action` throws.
template <typename Action> std::string failureOf(Action action) {
    static const char* const kinds[] = {"system", "pathTooLong", "noResponse", "foreignServer"};
    try {
        action();
    } catch (const UnixSocketError& error) {
        const int number = error.errorNumber();
        return kinds[int(error.kind())] + (number ? " " + std::to_string(number) : "") + ": " +
               error.what();
    }
    return "no error";
}

class LumenorServerTests : public ::testing::Test {
protected:
    // A server whose reports land in `reports`; by default it echoes and counts `calls`.
    template <typename Handling = LumenorServer::Handler>
    std::shared_ptr<LumenorServer> started(Handling handling = {}) {
        if constexpr (std::is_same_v<Handling, LumenorServer::Handler>)
            if (!handling)
                handling = [this](const LumenorRequest& request) { return ++calls, echo(request); };
        auto server = std::make_shared<LumenorServer>(path, std::move(handling),
                                                      [this](const std::string& line) {
                                                          std::lock_guard lock(mutex);
                                                          reports.push_back(line);
                                                      });
        server->start();
        return server;
    }
    template <typename Read> auto locked(Read read) {
        std::lock_guard lock(mutex);
        return read();
    }
    std::future<std::string> asked(const std::string& command) {
        return std::async(std::launch::async,
                          [this, command] { return converse(path, requestLine(command)); });
    }
    LumenorResponse send(const LumenorRequest& request) {
        return LumenorClient::send(request, path, 2);
    }

    TemporaryFolder folder;
    const fs::path root = folder.path();
    std::string path = (root / "support" / "inner" / "lumenor.sock").string();
    std::mutex mutex;
    std::vector<std::string> reports;
    std::atomic<int> calls = 0;
};

} // namespace

TEST_F(LumenorServerTests, RoundTripThroughPrivateSocketAndPromptRepeatableStop) {
    auto server = started();
    for (const fs::path& folder : {root / "support", root / "support" / "inner"})
        EXPECT_EQ(fs::status(folder).permissions(), fs::perms::owner_all) << folder;
    EXPECT_EQ(fs::status(path).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(send({"on", {{"for", "30m"}, {"why", "“build”\n"}}}),
              (LumenorResponse{true, "on for=30m why=“build”\n"}));

    auto stopping = std::async(std::launch::async, [&] { server->stop(); });
    ASSERT_EQ(stopping.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(server->listenFD(), -1);
    EXPECT_FALSE(fs::exists(path));
    EXPECT_NO_THROW(server->stop());
}

TEST_F(LumenorServerTests, StartReplacesStaleSocketButNoOtherFile) {
    socketFileAt(path);
    auto older = started();
    EXPECT_EQ(send(ping).message, "ping");

    // A newer instance takes the path over; the older one's stop must not unlink it.
    auto newer = started();
    older->stop();
    EXPECT_EQ(send(ping).message, "ping");
    newer->stop();

    std::ofstream(path) << "someone's notes";
    auto blocked = std::make_shared<LumenorServer>(path, echo);
    EXPECT_EQ(failureOf([&] { blocked->start(); }),
              "system " + std::to_string(EADDRINUSE) + ": bind failed: " + strerror(EADDRINUSE));
    blocked->stop();
    EXPECT_TRUE(fs::is_regular_file(path));
}

TEST_F(LumenorServerTests, ClientFailuresAreTypedWithTheirTextsAndTheTimeOutBoundsTheWholeAnswer) {
    // A NUL would silently name another socket.
    EXPECT_EQ(failureOf([&] { LumenorClient::send(ping, path + '\0' + "x", 2); }),
              "system " + std::to_string(EINVAL) + ": connect failed: " + strerror(EINVAL));

    const int listening = socketFileAt(path, 4);
    std::atomic<bool> clientDone = false, trickleDone = false;
    std::thread trickler([&] {
        const int connection = ::accept(listening, nullptr, nullptr);
        for (char byte : std::string("{\"message\":\"slow\",\"ok\":true}\n")) {
            std::this_thread::sleep_for(300ms);
            if (clientDone)
                break;
            ::send(connection, &byte, 1, MSG_NOSIGNAL);
        }
        trickleDone = !clientDone;
        ::close(connection);
    });
    EXPECT_THROW(LumenorClient::send(ping, path, 2), LumenorJSON::DecodingError);
    EXPECT_FALSE(trickleDone) << "the client waited for a server trickling its answer";
    clientDone = true;
    trickler.join();
    // Nothing accepts this one. Under a second would mean no time-out at all to the socket.
    EXPECT_EQ(failureOf([&] { LumenorClient::send(ping, path, 0.5); }),
              "noResponse: no response from Lumenor");
    ::close(listening);
    auto failing = started([](const LumenorRequest&) -> LumenorResponse {
        throw std::runtime_error("handler failed");
    });
    EXPECT_EQ(failureOf([&] { send(ping); }), "noResponse: no response from Lumenor");
}

TEST_F(LumenorServerTests, PathsOfMoreThan103BytesAreRefusedOnBothSides) {
    path = (root / std::string(103 - root.string().size() - 1, 's')).string();
    ASSERT_EQ(path.size(), 103u);
    auto server = started();
    EXPECT_EQ(send(ping).message, "ping");
    path += "s";
    EXPECT_EQ(failureOf([&] { started(); }), "pathTooLong: socket path too long");
    EXPECT_EQ(failureOf([&] { send(ping); }), "pathTooLong: socket path too long");
}

TEST_F(LumenorServerTests, BadOrOverlongRequestsAreAnsweredMalformedWithoutTheHandler) {
    auto server = started();
    // Reported escaped and shortened, once per second however many arrive.
    const std::string bad = "not json \x01\\" + std::string(100, 'y');
    for (const std::string& line : {bad + "\n", "\n"s, "{\"command\":\"ping\"}\n"s, bad + "\n"})
        EXPECT_EQ(converse(path, line), malformedLine) << line;
    EXPECT_EQ(converse(path, R"({"command":"ping","command":"on","options":{}})"
                             "\n"),
              "{\"message\":\"Malformed request: duplicate key “command”\",\"ok\":false}\n");
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(locked([&] { return reports; }),
              std::vector<std::string>{"Malformed request: not json \\x01\\\\" +
                                       std::string(69, 'y') + "…"});
    // One line per connection: whatever follows the first line feed is never read, and however
    // much is left unread the answer arrives whole and ends in an orderly close.
    EXPECT_EQ(converse(path, requestLine("ping") + requestLine("again") + std::string(32'768, 'x'),
                       200ms),
              pongLine);
    EXPECT_EQ(calls, 1);

    const std::string head = "{\"command\":\"ping\",\"options\":{\"pad\":\"";
    const std::string pad(65'536 - head.size() - 3, 'x');
    const std::string full = head + pad + "\"}}";
    EXPECT_TRUE(converse(path, full + "\n") ==
                "{\"message\":\"ping pad=" + pad + "\",\"ok\":true}\n");
    // The first 64 KiB alone would decode, but a line that does not end there is refused.
    EXPECT_EQ(converse(path, full + " \n"),
              "{\"message\":\"Request too long: at most 64 KiB.\",\"ok\":false}\n");
}

TEST_F(LumenorServerTests, UnfinishedRequestsShareOneBudgetAndCompleteOnesStillPass) {
    auto server = started();
    // 70 clients of 63 KiB each hold more than the 4 MiB all of them may: the last are refused.
    const std::string part(64'512, 'x');
    std::vector<int> clients(70);
    for (int& fd : clients)
        ASSERT_EQ(::send(fd = rawSocket(path, ::connect), part.data(), part.size(), 0),
                  ssize_t(part.size()));
    EXPECT_EQ(readAll(clients.back(), 2s),
              "{\"message\":\"Too many unfinished requests at once; try again.\",\"ok\":false}\n");
    EXPECT_EQ(send(ping).message, "ping");
    EXPECT_EQ(::send(clients.front(), "\n", 1, MSG_NOSIGNAL), 1);
    EXPECT_EQ(readAll(clients.front()), malformedLine);
    for (const int fd : clients)
        ::close(fd);
}

TEST_F(LumenorServerTests, SilentClientsAndABlockedHandlerHoldUpNoOneElse) {
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    auto server = started([&](const LumenorRequest& request) {
        if (request.command == "wait")
            released.wait();
        return echo(request);
    });
    // More silent clients than any fixed pool of blocking readers would have.
    const auto began = std::chrono::steady_clock::now();
    std::vector<int> silent(200);
    for (int& fd : silent)
        ASSERT_NE(fd = rawSocket(path, ::connect), -1);
    auto waiting = asked("wait");
    EXPECT_EQ(send(ping).message, "ping");
    release.set_value();
    EXPECT_EQ(waiting.get(), "{\"message\":\"wait\",\"ok\":true}\n");
    // A client that never finishes its line is answered after ten seconds.
    EXPECT_EQ(readAll(silent.back(), 15s), malformedLine);
    EXPECT_GE(std::chrono::steady_clock::now() - began, 9s);
    for (const int fd : silent)
        ::close(fd);
}

TEST_F(LumenorServerTests, DispatchedRequestsAreAnsweredLaterFromAnotherThreadOrClosedIfDropped) {
    std::vector<std::pair<LumenorRequest, LumenorServer::Reply>> taken;
    auto server = started([&](LumenorRequest request, LumenorServer::Reply reply) {
        std::lock_guard lock(mutex);
        taken.emplace_back(std::move(request), std::move(reply));
    });
    auto dropped = asked("drop"), large = asked("large"), small = asked("small");
    for (int waited = 0; waited < 500 && locked([&] { return taken.size(); }) < 3; ++waited)
        std::this_thread::sleep_for(10ms);
    std::lock_guard lock(mutex);
    // More than a socket's buffer holds: the rest is sent by the loop as the reader takes it.
    const std::string bulk(1 << 20, 'z');
    std::thread([&bulk, answers = std::move(taken)] {
        for (const auto& [request, reply] : answers)
            if (request.command != "drop")
                reply({true, request.command == "large" ? bulk : request.command});
    }).join();
    // Closed at once, not left to the reader's time-out.
    ASSERT_EQ(dropped.wait_for(3s), std::future_status::ready);
    EXPECT_EQ(dropped.get(), "");
    EXPECT_EQ(small.get(), "{\"message\":\"small\",\"ok\":true}\n");
    EXPECT_EQ(large.get(), "{\"message\":\"" + bulk + "\",\"ok\":true}\n");
}

TEST_F(LumenorServerTests, AnotherUsersClientsAreDroppedAndItsServersRefused) {
    if (::getuid() != 0)
        GTEST_SKIP() << "needs root to connect as another user";
    auto server = started();
    for (const fs::path& opened :
         {root, root / "support", root / "support" / "inner", fs::path(path)})
        fs::permissions(opened, fs::perms::all);

    const std::string pingLine = requestLine("ping");
    const pid_t child = ::fork();
    if (child == 0) {
        // Only system calls here: the parent has other threads running.
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(2);
        const int fd = rawSocket(path, ::connect);
        if (fd == -1)
            ::_exit(3);
        ::send(fd, pingLine.data(), pingLine.size(), MSG_NOSIGNAL);
        pollfd watched{fd, POLLIN, 0};
        char byte;
        // Closed unanswered: the end of the stream, or a reset for the unread request.
        ::_exit(::poll(&watched, 1, 5000) == 1 && ::read(fd, &byte, 1) <= 0 ? 0 : 1);
    }
    int result = -1;
    ASSERT_EQ(::waitpid(child, &result, 0), child);
    EXPECT_EQ(result, 0) << "1: answered or left open, 2: setuid, 3: connect";
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(locked([&] { return reports; }),
              std::vector<std::string>{"Refused a control connection from user id "
                                       "65534 (process " +
                                       std::to_string(child) + ")"});

    // Nor does a client take answers from a server of another user (a shared folder).
    const std::string foreign = (root / "support" / "foreign.sock").string();
    const pid_t impostor = ::fork();
    if (impostor == 0) {
        const int fd = ::setgid(65534) || ::setuid(65534) ? -1 : rawSocket(foreign, ::bind);
        ::_exit(fd < 0 || ::listen(fd, 4) != 0 ? 2 : ::pause());
    }
    const auto refusal = [&] { return failureOf([&] { LumenorClient::send(ping, foreign, 2); }); };
    std::string failure;
    for (int tries = 0; tries < 100 && !(failure = refusal()).starts_with("f"); ++tries)
        std::this_thread::sleep_for(50ms);
    EXPECT_EQ(failure, "foreignServer: the socket is served by user id 65534, not by this user");
    ::kill(impostor, SIGKILL);
    ::waitpid(impostor, nullptr, 0);
}
