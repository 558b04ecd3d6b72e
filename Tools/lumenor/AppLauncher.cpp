#include "Tools/lumenor/AppLauncher.h"

#include "LumenorCore/UnixSocket.h"
#include "LumenorCore/UnixSocketError.h"

#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace AppLauncher {
namespace {

/// Where the app may sit relative to this command's folder, in the order tried.
constexpr std::array appPlaces{"lumenor-app", "../libexec/lumenor/lumenor-app"};

bool answers(const std::string& socketPath) {
    try {
        UnixSocket::Descriptor socket = UnixSocket::openStream();
        const sockaddr_un address = UnixSocket::address(socketPath, "connect");
        return ::connect(socket.get(), reinterpret_cast<const sockaddr*>(&address),
                         sizeof address) == 0;
    } catch (const UnixSocketError&) {
        return false;
    }
}

/// In the grandchild: nothing of ours reaches the app but its environment.
[[noreturn]] void becomeApp(const std::string& app, int report) {
    ::setsid();
    // As if started by hand: `run` blocks the signals it passes on and `mcp` ignores SIGPIPE,
    // and a blocked SIGTERM would make the app deaf to an orderly stop. The folder it was asked
    // from may go away (an agent's scratch folder).
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    for (int signal = 1; signal < NSIG; ++signal) {
        ::signal(signal, SIG_DFL);
    }
    (void)!::chdir("/");
    const int null = ::open("/dev/null", O_RDWR);
    for (int fd = 0; fd <= 2; ++fd) {
        ::dup2(null, fd);
    }
    // Descriptors the caller left open (an agent's pipes) must not live on in the app.
    for (int fd = 3; fd < 1024; ++fd) {
        if (fd != report) {
            ::close(fd);
        }
    }
    // Started for a caller, not a person: without a tray it stays out of sight.
    ::execl(app.c_str(), app.c_str(), "--background", static_cast<char*>(nullptr));
    const int failure = errno;
    (void)!::write(report, &failure, sizeof failure);
    ::_exit(127);
}

/// Starts `app` as an orphan, so that it outlives this command and is no child of the caller;
/// the errno of a failed exec, or 0.
int spawnDetached(const std::string& app) {
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) {
        return errno;
    }
    const pid_t child = ::fork();
    if (child < 0) {
        const int failure = errno;
        ::close(report[0]);
        ::close(report[1]);
        return failure;
    }
    if (child == 0) {
        ::close(report[0]);
        if (::fork() == 0) {
            becomeApp(app, report[1]);
        }
        ::_exit(0);
    }
    ::close(report[1]);
    ::waitpid(child, nullptr, 0);
    int failure = 0;
    ssize_t got = 0;
    do {
        got = ::read(report[0], &failure, sizeof failure); // ends when exec closes the pipe
    } while (got < 0 && errno == EINTR);
    ::close(report[0]);
    return got == sizeof failure ? failure : 0;
}

} // namespace

bool forbiddenByEnvironment() {
    const char* value = std::getenv("LUMENOR_NO_START");
    return value != nullptr && std::strcmp(value, "1") == 0;
}

std::optional<std::string> appPath() {
    std::error_code error;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) {
        return std::nullopt;
    }
    for (const char* place : appPlaces) {
        const auto candidate = (self.parent_path() / place).lexically_normal();
        if (::access(candidate.c_str(), X_OK) == 0) {
            return candidate.string();
        }
    }
    return std::nullopt;
}

std::optional<std::string> start(const std::string& socketPath) {
    const auto app = appPath();
    if (!app) {
        return "Lumenor isn't running and its app wasn't found beside this command.";
    }
    if (const int failure = spawnDetached(*app)) {
        return "Lumenor isn't running and " + *app + " couldn't be started (" +
               std::strerror(failure) + ").";
    }
    using namespace std::chrono;
    const auto deadline = steady_clock::now() + duration<double>(socketWaitSeconds);
    while (!answers(socketPath)) {
        if (steady_clock::now() >= deadline) {
            return "Lumenor was started but didn't open its socket within " +
                   std::to_string(int(socketWaitSeconds)) +
                   " seconds; see its log in the support folder.";
        }
        std::this_thread::sleep_for(milliseconds(5));
    }
    return std::nullopt;
}

std::string howToStart() {
    return "Start it with `lumenor-app &`, or let a command that asks for something (such as "
           "`lumenor on`) start it.";
}

} // namespace AppLauncher
