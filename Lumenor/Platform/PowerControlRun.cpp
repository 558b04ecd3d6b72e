// The runner for system tools. It must be safe from any thread, so it uses no signal handlers:
// the child's end is seen through a pidfd (or a short poll where pidfds are missing), and its
// output is drained while it runs so a chatty tool cannot block on a full pipe.
#include "Lumenor/Platform/PowerControl.h"

#include "LumenorCore/ProcessTree.h"

#include <QString>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <optional>
#include <thread>
#include <utility>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace PowerControl {

namespace {

using Clock = std::chrono::steady_clock;

/// Output beyond this is read and dropped: the tools we run write a few lines, and a runaway
/// one must not exhaust memory.
constexpr size_t maxOutputBytes = 8 * 1024 * 1024;
/// Without a pidfd, how often the child's state is looked at.
constexpr int fallbackPollMs = 5;
/// How long a timed-out child gets to honour SIGTERM before it is killed and reaped.
constexpr auto terminateGrace = std::chrono::seconds(5);

std::string systemError(int error) {
    char buffer[256];
    return strerror_r(error, buffer, sizeof buffer);
}

class Descriptor {
public:
    explicit Descriptor(int fd = -1) : fd_(fd) {}
    ~Descriptor() { reset(); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }
    void reset(int fd = -1) {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = fd;
    }

private:
    int fd_;
};

/// Spawn attributes that give the child default signal handling and an empty mask, whatever
/// the app has set for itself (an ignored SIGPIPE, for one, would otherwise be inherited).
struct SpawnAttributes {
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_t actions;

    explicit SpawnAttributes(int outputFd) {
        posix_spawnattr_init(&attributes);
        sigset_t all;
        sigset_t none;
        sigfillset(&all);
        sigemptyset(&none);
        posix_spawnattr_setsigdefault(&attributes, &all);
        posix_spawnattr_setsigmask(&attributes, &none);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, outputFd, STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, outputFd, STDERR_FILENO);
        // The child sees stdin, stdout and stderr and nothing else of ours.
        posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
    }
    ~SpawnAttributes() {
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
    }
    SpawnAttributes(const SpawnAttributes&) = delete;
    SpawnAttributes& operator=(const SpawnAttributes&) = delete;
};

/// Reads what is available without blocking, in bounded rounds so a writer that never pauses
/// cannot keep the caller here; false once the pipe has reached its end.
bool drain(int fd, std::string& output) {
    char buffer[65536];
    for (int round = 0; round < 64; ++round) {
        const ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count > 0) {
            const size_t room = maxOutputBytes - std::min(maxOutputBytes, output.size());
            output.append(buffer, std::min(room, static_cast<size_t>(count)));
            continue;
        }
        if (count < 0 && errno == EINTR) {
            continue;
        }
        return count < 0; // EAGAIN: more may come; 0: end of file
    }
    return true;
}

/// The exit status, or nothing while the child is still running.
std::optional<int> reapIfDone(pid_t pid) {
    int status = 0;
    pid_t result;
    do {
        result = ::waitpid(pid, &status, WNOHANG);
    } while (result < 0 && errno == EINTR);
    if (result == 0) {
        return std::nullopt;
    }
    if (result < 0) {
        return -1; // already reaped elsewhere: nothing better to report
    }
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    return WIFSIGNALED(status) ? WTERMSIG(status) : -1;
}

/// Waits for a signalled child to end, kills it when it outlasts the grace period, and reaps it.
void awaitTermination(pid_t pid, int pidfd) {
    Descriptor owned(pidfd);
    const auto graceEnd = Clock::now() + terminateGrace;
    while (!reapIfDone(pid)) {
        if (Clock::now() >= graceEnd) {
            ::kill(pid, SIGKILL);
            int status = 0;
            while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
            return;
        }
        if (owned.get() >= 0) {
            pollfd entry{owned.get(), POLLIN, 0};
            ::poll(&entry, 1, 100);
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(fallbackPollMs));
        }
    }
}

/// A timed-out child is asked to stop and reaped on a thread of its own, so the caller returns
/// at once and no zombie is left behind.
void terminateInBackground(pid_t pid, int pidfd) {
    ::kill(pid, SIGTERM);
    try {
        std::thread(awaitTermination, pid, pidfd).detach();
    } catch (...) {
        // No thread to spare: end it now rather than leave it unreaped.
        ::kill(pid, SIGKILL);
        awaitTermination(pid, pidfd);
    }
}

/// Milliseconds until `deadline`, capped so that an endless time-out still fits poll().
int millisecondsUntil(std::optional<Clock::time_point> deadline, int cap) {
    if (!deadline) {
        return cap;
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now());
    return static_cast<int>(std::clamp<int64_t>(left.count(), 0, cap));
}

/// No deadline for an endless time-out; none-positive and NaN mean "do not wait".
std::optional<Clock::time_point> deadlineAfter(double timeout) {
    if (std::isinf(timeout) && timeout > 0) {
        return std::nullopt;
    }
    const double seconds = std::isnan(timeout) ? 0.0 : std::clamp(timeout, 0.0, 1e9);
    return Clock::now() +
           std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

std::string decodeAndTrim(const std::string& bytes) {
    // Invalid sequences become U+FFFD; trimming covers Unicode spaces and line breaks.
    return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()))
        .trimmed()
        .toStdString();
}

struct Child {
    pid_t pid = -1;
    Descriptor output;
    Descriptor pidfd;
};

/// Starts the child with both output streams on one pipe; an error text on failure.
std::optional<std::string> launch(const std::string& tool,
                                  const std::vector<std::string>& arguments, Child& child) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        return "Couldn't run " + tool + ": " + systemError(errno);
    }
    child.output.reset(ends[0]);
    Descriptor writeEnd(ends[1]);

    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(tool.c_str()));
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);

    SpawnAttributes spawn(writeEnd.get());
    // glibc's posix_spawn reports a failed exec as its result, so a missing or unrunnable tool
    // is always noticed here.
    const int error = ::posix_spawn(&child.pid, tool.c_str(), &spawn.actions, &spawn.attributes,
                                    argv.data(), environ);
    if (error != 0) {
        child.pid = -1;
        return "Couldn't run " + tool + ": " + systemError(error);
    }
    ::fcntl(child.output.get(), F_SETFL, O_NONBLOCK);
    child.pidfd.reset(ProcessTree::openPidfd(child.pid));
    return std::nullopt;
}

/// Collects the child's output until it ends or the deadline passes.
RunResult awaitChild(Child& child, std::optional<Clock::time_point> deadline) {
    std::string output;
    bool pipeOpen = true;
    for (;;) {
        if (const auto status = reapIfDone(child.pid)) {
            child.pid = -1;
            // What the child wrote before it ended is in the pipe now; descendants that still
            // hold the pipe open are not waited for.
            drain(child.output.get(), output);
            return {*status, decodeAndTrim(output)};
        }
        if (deadline && Clock::now() >= *deadline) {
            terminateInBackground(std::exchange(child.pid, -1), child.pidfd.release());
            return {-2, "timed out"};
        }
        pollfd entries[2];
        nfds_t count = 0;
        if (pipeOpen) {
            entries[count++] = {child.output.get(), POLLIN, 0};
        }
        if (child.pidfd.get() >= 0) {
            entries[count++] = {child.pidfd.get(), POLLIN, 0};
        }
        const int cap = child.pidfd.get() >= 0 ? 1000 : fallbackPollMs;
        ::poll(entries, count, millisecondsUntil(deadline, cap));
        if (pipeOpen) {
            pipeOpen = drain(child.output.get(), output);
        }
    }
}

} // namespace

RunResult run(const std::string& tool, const std::vector<std::string>& arguments, double timeout) {
    Child child;
    try {
        if (auto failure = launch(tool, arguments, child)) {
            return {-1, *failure};
        }
        return awaitChild(child, deadlineAfter(timeout));
    } catch (...) {
        // Only allocation can fail here; the runner promises never to throw or leak a child.
        if (child.pid > 0) {
            terminateInBackground(child.pid, child.pidfd.release());
        }
        return {-1, "out of memory"};
    }
}

} // namespace PowerControl
