#pragma once

#include "LumenorCore/LumenorRequest.h"
#include "LumenorCore/ProcessTree.h"

#include <functional>
#include <optional>
#include <string>
#include <variant>
#include <vector>

/// The `lumenor` command's arguments turned into the one request it sends. Pure apart from the
/// agent lookup it is given, so that every rule can be tested without a running app.
namespace CommandLine {

/// A run that got past its arguments.
struct Invocation {
    enum class Action { send, help, version };

    Action action = Action::send;
    /// Meaningful for `send` only.
    LumenorRequest request;
    /// Print the reply as its JSON line instead of its message.
    bool json = false;
    /// A remark for standard error before sending; empty when there is nothing to say.
    std::string note;
};

/// Arguments that make no sense; the text says what is wrong, without the usage lines.
struct UsageError {
    std::string message;
};

using Result = std::variant<Invocation, UsageError>;

/// Finds the Copilot CLI run this command was started from; called only for `--after-task`.
using AgentLookup = std::function<std::optional<ProcessTree::CopilotAncestor>()>;

/// Reads the arguments after the program name. Option names become the protocol's (dashes to
/// underscores), on|off values are checked and normalised, whole numbers are checked; durations
/// and clock times are left for the app to judge, since its replies explain them.
Result parse(const std::vector<std::string>& arguments, const AgentLookup& findAgent);

/// The full help text (commands, options, exit statuses), ending in a line feed.
std::string helpText();

/// Two lines pointing at the help, printed after a usage error.
std::string shortUsage();

} // namespace CommandLine
