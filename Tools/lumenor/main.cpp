// The `lumenor` command: one request to the running app, its answer on standard output.
// It starts fast: nothing runs before the arguments are understood, and no Qt is linked.

#include "LumenorCore/LumenorClient.h"
#include "LumenorCore/LumenorJSON.h"
#include "LumenorCore/LumenorPaths.h"
#include "LumenorCore/ProcessTree.h"
#include "LumenorCore/UnixSocketError.h"
#include "Tools/lumenor/CommandLine.h"
#include "Tools/lumenor/PrintScript.h"

#include <cstdio>
#include <iostream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

enum ExitStatus { done = 0, declined = 1, usageError = 2, unreachable = 3 };

/// The app answers on its main thread, which may be busy for a moment; a healthy app replies
/// within milliseconds, so anything past this means it is stuck.
constexpr double replyTimeoutSeconds = 5;

/// Enough generations to climb from a shell tool through its shells and wrappers to the agent.
constexpr int agentSearchDepth = 32;

std::optional<ProcessTree::CopilotAncestor> findAgent() {
    return ProcessTree::copilotAncestor(static_cast<std::int32_t>(getppid()), agentSearchDepth);
}

const char* unreachableLead(const UnixSocketError& error) {
    switch (error.kind()) {
    case UnixSocketError::Kind::noResponse:
        return "Lumenor isn't answering";
    case UnixSocketError::Kind::pathTooLong:
        return "Lumenor can't be reached";
    case UnixSocketError::Kind::system:
        break;
    }
    return "Lumenor isn't running";
}

void printLine(std::ostream& out, const std::string& text) {
    if (text.empty()) {
        return;
    }
    out << text;
    if (text.back() != '\n') {
        out << '\n';
    }
}

int send(const CommandLine::Invocation& invocation) {
    LumenorResponse response{.ok = false, .message = {}};
    try {
        response = LumenorClient::send(invocation.request, LumenorPaths::socketPath(),
                                       replyTimeoutSeconds);
    } catch (const UnixSocketError& error) {
        std::cerr << unreachableLead(error) << " (" << error.what() << ").\n";
        return unreachable;
    } catch (const LumenorJSON::EncodingError& error) {
        // Arguments are checked for UTF-8 before this; kept so that no failure goes unexplained.
        std::cerr << "lumenor: the request couldn't be written (" << error.what() << ").\n";
        return usageError;
    } catch (const LumenorJSON::DecodingError& error) {
        std::cerr << "Lumenor's reply couldn't be read (" << error.what() << ").\n";
        return unreachable;
    }
    if (invocation.json) {
        std::cout << LumenorJSON::line(response);
    } else {
        printLine(response.ok ? std::cout : std::cerr, response.message);
    }
    return response.ok ? done : declined;
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    if (const auto printed = PrintScript::handle(arguments, PrintScript::callingUser())) {
        std::cout << printed->out;
        std::cerr << printed->err;
        return printed->status;
    }
    const CommandLine::Result result = CommandLine::parse(arguments, findAgent);
    if (const auto* error = std::get_if<CommandLine::UsageError>(&result)) {
        std::cerr << "lumenor: " << error->message << '\n' << CommandLine::shortUsage();
        return usageError;
    }
    const auto& invocation = std::get<CommandLine::Invocation>(result);
    switch (invocation.action) {
    case CommandLine::Invocation::Action::help:
        std::cout << CommandLine::helpText();
        return done;
    case CommandLine::Invocation::Action::version:
        std::cout << "lumenor " << LUMENOR_VERSION << '\n';
        return done;
    case CommandLine::Invocation::Action::send:
        break;
    }
    printLine(std::cerr, invocation.note);
    return send(invocation);
}
