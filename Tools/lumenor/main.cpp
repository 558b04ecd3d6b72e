// The `lumenor` command: one request to the running app, its answer on standard output.
// It starts fast: nothing runs before the arguments are understood, no Qt is linked, and output
// goes through write(2).

#include "LumenorCore/LumenorClient.h"
#include "LumenorCore/LumenorJSON.h"
#include "LumenorCore/LumenorPaths.h"
#include "LumenorCore/ProcessTree.h"
#include "LumenorCore/UnixSocketError.h"
#include "LumenorCore/Utf8.h"
#include "Tools/lumenor/AppLauncher.h"
#include "Tools/lumenor/CommandLine.h"
#include "Tools/lumenor/Generators.h"
#include "Tools/lumenor/McpServer.h"
#include "Tools/lumenor/Output.h"
#include "Tools/lumenor/PrintScript.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using CommandLine::Invocation;

enum ExitStatus { done = 0, declined = 1, usageError = 2, unreachable = 3, runFailed = 125 };

/// The app answers on its main thread, which may be busy for a moment; a healthy app replies
/// within milliseconds, so anything past this means it is stuck.
constexpr double replyTimeoutSeconds = 5;
/// Setup answers once the administrator prompt has an outcome, which takes a person.
constexpr double setupReplySeconds = 330;

/// Enough generations to climb from a shell tool through its shells and wrappers to the agent.
constexpr int agentSearchDepth = 32;

std::optional<ProcessTree::AgentAncestor> findAgent() {
    return ProcessTree::agentAncestor(static_cast<std::int32_t>(getppid()), agentSearchDepth);
}

const char* unreachableLead(const UnixSocketError& error) {
    switch (error.kind()) {
    case UnixSocketError::Kind::noResponse:
        return "Lumenor isn't answering";
    case UnixSocketError::Kind::pathTooLong:
        return "Lumenor can't be reached";
    case UnixSocketError::Kind::foreignServer:
        return "Refused to talk to Lumenor's socket";
    case UnixSocketError::Kind::system:
        break;
    }
    return "Lumenor isn't running";
}

/// Prints the outcomes of one run the way its options ask.
class Reporter {
public:
    explicit Reporter(const Invocation& invocation)
        : json_(invocation.json), color_(invocation.color) {}
    Reporter(bool json, CommandLine::ColorChoice color) : json_(json), color_(color) {}

    /// Every failure exits with `exit` from now on, as `run`'s own failures do.
    void failWith(int exit) { failureExit_ = exit; }

    /// An outcome the app did not answer; returns `exit`.
    int fail(const std::string& message, int exit) const {
        exit = failureExit_.value_or(exit);
        if (json_) {
            Output::writeLine(STDOUT_FILENO, Output::jsonOutcome(false, message, exit));
        } else {
            Output::writeLine(STDERR_FILENO, text(STDERR_FILENO, message));
        }
        return exit;
    }

    int usage(const std::string& message) const {
        if (json_) {
            return fail("lumenor: " + message, usageError);
        }
        const std::string lead =
            Output::colors(STDERR_FILENO, color_) ? "\033[1;31mlumenor:\033[0m " : "lumenor: ";
        Output::writeLine(STDERR_FILENO, lead + message + "\n" + CommandLine::shortUsage());
        return usageError;
    }

    /// The app's answer; returns its exit status.
    int reply(const LumenorResponse& response) const {
        const int exit = response.ok ? done : failureExit_.value_or(declined);
        if (json_) {
            Output::writeLine(STDOUT_FILENO, Output::withExit(LumenorJSON::line(response), exit));
        } else {
            const int fd = response.ok ? STDOUT_FILENO : STDERR_FILENO;
            Output::writeLine(fd, text(fd, response.message));
        }
        return exit;
    }

    void note(const std::string& message) const {
        Output::writeLine(STDERR_FILENO, text(STDERR_FILENO, message));
    }

private:
    // What the app relays (labels, other programs' inhibitors) may carry terminal controls.
    std::string text(int fd, const std::string& message) const {
        const std::string shown = Utf8::visible(message);
        return Output::decorates(fd, color_) ? shown : Output::withoutEmoji(shown);
    }

    bool json_;
    CommandLine::ColorChoice color_;
    std::optional<int> failureExit_;
};

/// No app serves the socket: nothing listens there, or nothing is there.
bool nobodyServes(const UnixSocketError& error) {
    return error.kind() == UnixSocketError::Kind::system && error.call() == "connect" &&
           (error.errorNumber() == ENOENT || error.errorNumber() == ECONNREFUSED);
}

/// Sends one request, starting the app first when none runs and `mayStart`; the reply, or why
/// there is none (with the exit status that goes with it).
std::variant<LumenorResponse, std::pair<std::string, int>> ask(const LumenorRequest& request,
                                                               bool mayStart) {
    const std::string path = LumenorPaths::socketPath();
    for (;;) {
        try {
            return LumenorClient::send(request, path,
                                       request.command == "setup" ? setupReplySeconds
                                                                  : replyTimeoutSeconds);
        } catch (const UnixSocketError& error) {
            const std::string lead =
                std::string(unreachableLead(error)) + " (" + error.what() + ").";
            if (!nobodyServes(error)) {
                return std::pair{lead, int(unreachable)};
            }
            if (!mayStart || AppLauncher::forbiddenByEnvironment()) {
                return std::pair{lead + "\n" + AppLauncher::howToStart(), int(unreachable)};
            }
            if (auto failed = AppLauncher::start(path)) {
                return std::pair{*failed, int(unreachable)};
            }
            mayStart = false; // once: an app that took the socket and left is not restarted
        } catch (const LumenorJSON::EncodingError& error) {
            // Arguments are checked for UTF-8 before this; kept so that no failure goes
            // unexplained.
            return std::pair{std::string("lumenor: the request couldn't be written (") +
                                 error.what() + ").",
                             int(usageError)};
        } catch (const LumenorJSON::DecodingError& error) {
            return std::pair{std::string("Lumenor's reply couldn't be read (") + error.what() +
                                 ").",
                             int(unreachable)};
        }
    }
}

/// Sends one request; the reply, or the failure to get one as the exit status to report.
std::variant<LumenorResponse, int> exchange(const LumenorRequest& request, const Reporter& reporter,
                                            bool mayStart = false) {
    auto outcome = ask(request, mayStart);
    if (auto* failure = std::get_if<std::pair<std::string, int>>(&outcome)) {
        return reporter.fail(failure->first, failure->second);
    }
    return std::get<LumenorResponse>(std::move(outcome));
}

/// The app resolves paths against its own folder, so a relative one is made absolute here, and
/// a missing file is reported here, where the caller can still see what was typed.
std::optional<std::string> absoluteFile(std::map<std::string, std::string>& options) {
    const auto file = options.find("file");
    if (file == options.end()) {
        return std::nullopt;
    }
    std::string typed = file->second;
    const char* home = std::getenv("HOME");
    if (home != nullptr && (typed == "~" || typed.starts_with("~/"))) {
        typed = std::string(home) + typed.substr(1);
    }
    std::error_code error;
    const std::filesystem::path path = std::filesystem::absolute(typed, error).lexically_normal();
    // Links are followed here, where they mean what the caller meant: /proc/self/fd/N would
    // name one of the app's own descriptors there, and a link could change on the way.
    std::error_code unresolved;
    const std::filesystem::path resolved = std::filesystem::canonical(path, unresolved);
    struct stat info {};
    if (error || unresolved || path.empty() || !resolved.is_absolute() ||
        ::stat(resolved.c_str(), &info) != 0) {
        return "File not found: " + (path.empty() ? typed : path.string());
    }
    file->second = resolved.string();
    return std::nullopt;
}

int send(Invocation invocation) {
    const Reporter reporter(invocation);
    if (auto missing = absoluteFile(invocation.request.options)) {
        return reporter.fail(*missing, declined);
    }
    reporter.note(invocation.note);
    auto outcome = exchange(invocation.request, reporter, invocation.mayStart);
    if (const int* failure = std::get_if<int>(&outcome)) {
        return *failure;
    }
    return reporter.reply(std::get<LumenorResponse>(outcome));
}

// ---- run: a command kept awake for as long as it runs -----------------------------------------

constexpr int forwardedSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2};

/// The command line as the status names it, shortened to a glance.
std::string labelFor(const std::vector<std::string>& program) {
    std::string label;
    for (const std::string& word : program) {
        label += (label.empty() ? "" : " ") + Utf8::sanitized(word);
    }
    constexpr std::size_t longest = 48;
    if (Utf8::length(label) <= longest) {
        return label;
    }
    std::string shortened;
    std::size_t at = 0;
    for (std::size_t count = 0; count < longest - 1; ++count) {
        at += Utf8::decode(std::string_view(label).substr(at)).length;
    }
    return label.substr(0, at) + "…";
}

/// The child waits at the gate until the hold is in place, so the command never runs unheld.
[[noreturn]] void childAtGate(int gate, const std::vector<std::string>& program) {
    char go = 0;
    ssize_t got = 0;
    do {
        got = ::read(gate, &go, 1);
    } while (got < 0 && errno == EINTR);
    if (got != 1) {
        ::_exit(127);
    }
    std::vector<char*> argv;
    for (const std::string& word : program) {
        argv.push_back(const_cast<char*>(word.c_str()));
    }
    argv.push_back(nullptr);
    ::execvp(argv[0], argv.data());
    const int failure = errno;
    Output::writeLine(STDERR_FILENO,
                      "lumenor: can't run " + program.front() + ": " + std::strerror(failure));
    ::_exit(failure == ENOENT ? 127 : 126);
}

int exitStatus(int status) {
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
}

int waitForExit(pid_t child) {
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) {
            return 127;
        }
    }
    return exitStatus(status);
}

/// The signals `run` passes on, and SIGCHLD, which ends its wait.
sigset_t supervisedSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGCHLD);
    for (const int signal : forwardedSignals) {
        sigaddset(&signals, signal);
    }
    return signals;
}

/// Waits for the child while `watched` is blocked, taking those signals one at a time so that
/// none is lost between one check and the next. Those another process sent are passed on; those
/// the terminal sent reached the child itself, since it shares our process group.
int superviseChild(pid_t child, const sigset_t& watched) {
    for (;;) {
        int status = 0;
        const pid_t ended = ::waitpid(child, &status, WNOHANG);
        if (ended == child) {
            return exitStatus(status);
        }
        if (ended < 0 && errno != EINTR) {
            return 127;
        }
        siginfo_t info{};
        const int signal = ::sigwaitinfo(&watched, &info);
        if (signal > 0 && signal != SIGCHLD && info.si_code <= 0) {
            ::kill(child, signal);
        }
    }
}

int run(Invocation invocation) {
    // Until the command runs, a failure is run's own: 125, never a status the command could give.
    Reporter reporter(invocation);
    reporter.failWith(runFailed);
    int gate[2];
    if (::pipe2(gate, O_CLOEXEC) != 0) {
        return reporter.fail(
            std::string("lumenor: can't start the command: ") + std::strerror(errno), declined);
    }
    // Blocked before the child exists: a signal sent while the hold is being taken waits, and
    // reaches the command once it runs, instead of ending us with the command left behind.
    const sigset_t watched = supervisedSignals();
    sigset_t original;
    ::sigprocmask(SIG_BLOCK, &watched, &original);
    const pid_t child = ::fork();
    if (child < 0) {
        return reporter.fail(
            std::string("lumenor: can't start the command: ") + std::strerror(errno), declined);
    }
    if (child == 0) {
        ::sigprocmask(SIG_SETMASK, &original, nullptr);
        ::close(gate[1]);
        childAtGate(gate[0], invocation.program);
    }
    ::close(gate[0]);
    auto& options = invocation.request.options;
    const std::string id = "run-" + std::to_string(child);
    options["id"] = id;
    options["pid"] = std::to_string(child);
    options.try_emplace("label", labelFor(invocation.program));
    options["require_held"] = "on"; // no hold is taken unless the computer is held awake

    auto outcome = exchange(invocation.request, reporter, invocation.mayStart);
    const auto* response = std::get_if<LumenorResponse>(&outcome);
    if (response == nullptr || !response->ok) {
        ::close(gate[1]); // the child leaves without running anything
        waitForExit(child);
        return response != nullptr ? reporter.reply(*response) : std::get<int>(outcome);
    }
    // Should the child be gone already, its hold ends with it; there is nothing to undo here.
    [[maybe_unused]] const ssize_t sent = ::write(gate[1], "g", 1);
    ::close(gate[1]);
    const int status = superviseChild(child, watched);
    // The app would notice the exit within a second; releasing at once frees the computer now.
    // An app gone meanwhile held nothing since: the command's status still passes through.
    if (std::holds_alternative<std::pair<std::string, int>>(
            ask(LumenorRequest{"release", {{"id", id}}}, false))) {
        std::fputs("lumenor: Lumenor stopped while the command ran, so the computer was not kept "
                   "awake to its end.\n",
                   stderr);
    }
    return status;
}

// ---- mcp: the tools for coding agents ----------------------------------------------------------

/// One request for the MCP server: its answer, or why there is none in the words `lumenor`
/// itself would print. The app is started at the first tool call that finds none.
McpTools::Reply askForAgent(const LumenorRequest& request, bool mayStart) {
    auto outcome = ask(request, mayStart);
    if (auto* failure = std::get_if<std::pair<std::string, int>>(&outcome)) {
        return failure->first;
    }
    return std::get<LumenorResponse>(std::move(outcome));
}

int serveMcp(const Invocation& invocation) {
    McpTools::Session session;
    session.send = [mayStart = invocation.mayStart](const LumenorRequest& request) {
        return askForAgent(request, mayStart);
    };
    session.pid = static_cast<std::int32_t>(::getpid());
    return McpServer(std::move(session), LUMENOR_VERSION).serve();
}

int generate(const Invocation& invocation) {
    const std::string& what = invocation.generate;
    const std::string text =
        what == "man"       ? CommandLine::manPage(LUMENOR_VERSION, LUMENOR_RELEASE_DATE)
        : what == "man-app" ? CommandLine::appManPage(LUMENOR_VERSION, LUMENOR_RELEASE_DATE)
                            : CommandLine::completionScript(what);
    Output::writeLine(STDOUT_FILENO, text);
    return done;
}

int help(const Invocation& invocation) {
    std::string text = invocation.topic.empty() ? CommandLine::helpText()
                                                : CommandLine::commandHelp(invocation.topic);
    Output::writeLine(STDOUT_FILENO, text);
    return done;
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    if (const auto printed = PrintScript::handle(arguments, PrintScript::callingUser())) {
        Output::writeLine(STDOUT_FILENO, printed->out);
        Output::writeLine(STDERR_FILENO, printed->err);
        return printed->status;
    }
    const CommandLine::Result result = CommandLine::parse(arguments, findAgent);
    if (const auto* error = std::get_if<CommandLine::UsageError>(&result)) {
        return Reporter(error->json, error->color).usage(error->message);
    }
    const auto& invocation = std::get<Invocation>(result);
    switch (invocation.action) {
    case Invocation::Action::help:
        return help(invocation);
    case Invocation::Action::version:
        Output::writeLine(STDOUT_FILENO, "lumenor " LUMENOR_VERSION);
        return done;
    case Invocation::Action::generate:
        return generate(invocation);
    case Invocation::Action::run:
        return run(invocation);
    case Invocation::Action::mcp:
        return serveMcp(invocation);
    case Invocation::Action::send:
        break;
    }
    return send(invocation);
}
