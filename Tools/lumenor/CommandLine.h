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

/// When emoji and colour decorate the output.
enum class ColorChoice { automatic, always, never };

/// A run that got past its arguments.
struct Invocation {
    enum class Action { send, help, version, run, generate, mcp };

    Action action = Action::send;
    /// Meaningful for `send`; for `run`, the hold to take (its pid and id are added later).
    LumenorRequest request;
    /// Print every outcome as one JSON object instead of text.
    bool json = false;
    ColorChoice color = ColorChoice::automatic;
    /// A remark for standard error before sending; empty when there is nothing to say.
    std::string note;
    /// For `help`: the command to explain; empty for all.
    std::string topic;
    /// For `run`: the command and its arguments.
    std::vector<std::string> program;
    /// For `generate`: "bash", "zsh", "fish", "man" or "man-app".
    std::string generate;
    /// The command may start the app when none runs: it asks for something to happen and
    /// --no-start was not given.
    bool mayStart = false;
};

/// Arguments that make no sense; the text says what is wrong, without the usage lines.
struct UsageError {
    std::string message;
    /// `--json` or `--color` appeared, so the error is printed the way they ask.
    bool json = false;
    ColorChoice color = ColorChoice::automatic;
};

using Result = std::variant<Invocation, UsageError>;

/// Finds the coding-agent run this command was started from; called only for `--after-task`.
using AgentLookup = std::function<std::optional<ProcessTree::AgentAncestor>()>;

/// Reads the arguments after the program name. Option names become the protocol's (dashes to
/// underscores), on|off values are checked and normalised, whole numbers are checked; durations
/// and clock times are left for the app to judge, since its replies explain them.
Result parse(const std::vector<std::string>& arguments, const AgentLookup& findAgent);

/// The full help text (commands, options, exit statuses), ending in a line feed.
std::string helpText();

/// One command's help: synopsis, what it does, options with units and ranges, an example.
/// Empty for an unknown command.
std::string commandHelp(const std::string& word);

/// Two lines pointing at the help, printed after a usage error.
std::string shortUsage();

/// The word of `candidates` nearest to `typed` by edit distance, when near enough to be a typo.
std::optional<std::string> suggestion(const std::string& typed,
                                      const std::vector<std::string>& candidates);

} // namespace CommandLine
