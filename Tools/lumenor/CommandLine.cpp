#include "Tools/lumenor/CommandLine.h"
#include "Tools/lumenor/CommandTable.h"

#include "LumenorCore/Utf8.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cstdint>
#include <span>
#include <string_view>

namespace CommandLine {
namespace {

std::string quoted(std::string_view text) {
    return "“" + std::string(text) + "”";
}

/// "; did you mean “status”?" when one of `candidates` is a likely typo of `typed`.
std::string didYouMean(const std::string& typed, const std::vector<std::string>& candidates) {
    const auto near = suggestion(typed, candidates);
    return near ? "; did you mean " + quoted(*near) + "?" : std::string();
}

std::vector<std::string> commandWords() {
    std::vector<std::string> words;
    for (const CommandShape& shape : commands())
        words.emplace_back(shape.word);
    return words;
}

std::vector<std::string> optionFlags(const CommandShape& command) {
    std::vector<std::string> flags;
    for (const OptionShape& option : command.options)
        flags.push_back("--" + std::string(option.name));
    for (const OptionShape& option : globalOptions())
        flags.push_back("--" + std::string(option.name));
    return flags;
}

std::string protocolName(std::string_view name) {
    std::string result(name);
    std::replace(result.begin(), result.end(), '-', '_');
    return result;
}

std::string lowercased(std::string_view text) {
    std::string result(text);
    std::transform(result.begin(), result.end(), result.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return result;
}

/// "on" or "off" for the words people use for either; none for anything else, so that a typo
/// cannot silently switch a setting off.
std::optional<std::string> onOffValue(std::string_view text) {
    const std::string word = lowercased(text);
    for (std::string_view yes : {"on", "yes", "true", "1"}) {
        if (word == yes) {
            return "on";
        }
    }
    for (std::string_view no : {"off", "no", "false", "0"}) {
        if (word == no) {
            return "off";
        }
    }
    return std::nullopt;
}

std::optional<std::int32_t> wholeNumber(std::string_view text, std::int32_t minimum) {
    std::int32_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < minimum) {
        return std::nullopt;
    }
    return value;
}

/// The protocol carries UTF-8 only; anything else could not even be written as a request.
bool isUtf8(std::string_view text) {
    return Utf8::sanitized(text) == text;
}

/// The value to send for one option, or the usage error it deserves.
std::variant<std::string, UsageError> checkedValue(const OptionShape& option,
                                                   const std::string& value) {
    const std::string flag = "--" + std::string(option.name);
    switch (option.kind) {
    case Kind::onOff:
    case Kind::toggle:
    case Kind::cancel:
        if (auto word = onOffValue(value)) {
            return option.kind == Kind::onOff ? *word : *word == "on" ? "1" : "0";
        }
        return UsageError{flag + " takes on or off, not " + quoted(value)};
    case Kind::processId:
        if (wholeNumber(value, 1)) {
            return value;
        }
        return UsageError{flag + " takes a process id, not " + quoted(value)};
    case Kind::number:
        if (wholeNumber(value, 0)) {
            return value;
        }
        return UsageError{flag + " takes a whole number, not " + quoted(value)};
    case Kind::text:
    case Kind::path:
    case Kind::afterTask:
        break;
    }
    if (!isUtf8(value)) {
        return UsageError{flag + " takes text in UTF-8"};
    }
    return value;
}

Invocation actionOnly(Invocation::Action action) {
    Invocation invocation;
    invocation.action = action;
    return invocation;
}

std::optional<ColorChoice> colorChoice(std::string_view word) {
    if (word == "auto") {
        return ColorChoice::automatic;
    }
    if (word == "always") {
        return ColorChoice::always;
    }
    if (word == "never") {
        return ColorChoice::never;
    }
    return std::nullopt;
}

/// Walks the arguments once; keeps what the checks after the walk need.
class Parser {
public:
    Parser(const std::vector<std::string>& arguments) : arguments_(arguments) {}

    std::optional<Result> walk();

    Invocation invocation;
    const CommandShape* command = nullptr;
    bool afterTask = false;
    bool noStart = false;

private:
    std::optional<Result> global(const std::string& token, std::size_t& index);
    std::optional<UsageError> word(const std::string& token);
    std::optional<UsageError> option(const std::string& token, std::size_t& index);
    std::optional<UsageError> store(const OptionShape& option, const std::string& value);
    bool isRun() const { return command != nullptr && command->word == "run"; }

    const std::vector<std::string>& arguments_;
    bool haveId_ = false;
};

std::optional<Result> Parser::walk() {
    for (std::size_t index = 0; index < arguments_.size(); ++index) {
        const std::string& token = arguments_[index];
        if (isRun() && (token == "--" || !token.starts_with("-"))) {
            // Everything from here on belongs to the command being run.
            invocation.program.assign(arguments_.begin() + index + (token == "--" ? 1 : 0),
                                      arguments_.end());
            return std::nullopt;
        }
        if (auto handled = global(token, index)) {
            return handled;
        }
        if (token == "--json" || token == "--color" || token.starts_with("--color=") ||
            token == "--no-start") {
            continue;
        }
        std::optional<UsageError> error =
            token.size() > 1 && token[0] == '-' ? option(token, index) : word(token);
        if (error) {
            return *error;
        }
    }
    return std::nullopt;
}

/// The options every command takes; a result ends the walk.
std::optional<Result> Parser::global(const std::string& token, std::size_t& index) {
    if (token == "--help" || token == "-h") {
        Invocation help = actionOnly(Invocation::Action::help);
        help.topic = command != nullptr && command->word != "help" ? command->word : "";
        return help;
    }
    if (token == "--version" || token == "-V") {
        return actionOnly(Invocation::Action::version);
    }
    if (token == "--json") {
        invocation.json = true;
    } else if (token == "--no-start") {
        noStart = true;
    } else if (token == "--color" || token.starts_with("--color=")) {
        std::string when = "always";
        if (token.size() > 7) {
            when = token.substr(8);
        } else if (index + 1 < arguments_.size() && colorChoice(arguments_[index + 1])) {
            when = arguments_[++index];
        }
        const auto choice = colorChoice(when);
        if (!choice) {
            return UsageError{"--color takes auto, always or never, not " + quoted(when)};
        }
        invocation.color = *choice;
    } else if (token == "--generate" && command == nullptr) {
        const std::string what = index + 1 < arguments_.size() ? arguments_[index + 1] : "";
        if (what != "bash" && what != "zsh" && what != "fish" && what != "man" &&
            what != "man-app") {
            return UsageError{"--generate takes bash, zsh, fish, man or man-app"};
        }
        Invocation generate = actionOnly(Invocation::Action::generate);
        generate.generate = what;
        return generate;
    }
    return std::nullopt;
}

std::optional<UsageError> Parser::word(const std::string& token) {
    if (command == nullptr) {
        command = findCommand(token);
        if (command == nullptr) {
            return UsageError{"unknown command " + quoted(token) +
                              didYouMean(token, commandWords())};
        }
        invocation.request.command = token;
        return std::nullopt;
    }
    if (command->word == "help" && invocation.topic.empty()) {
        if (findCommand(token) == nullptr) {
            return UsageError{"no help for " + quoted(token) + didYouMean(token, commandWords())};
        }
        invocation.topic = token;
        return std::nullopt;
    }
    if (!command->operand.empty() && command->operand == "ID" && !haveId_) {
        if (token.empty()) {
            return UsageError{std::string(command->word) + " needs a non-empty ID"};
        }
        if (!isUtf8(token)) {
            return UsageError{"the ID must be UTF-8 text"};
        }
        invocation.request.options["id"] = token;
        haveId_ = true;
        return std::nullopt;
    }
    return UsageError{"unexpected argument " + quoted(token)};
}

std::optional<UsageError> Parser::option(const std::string& token, std::size_t& index) {
    const std::size_t equals = token.find('=');
    const std::string flag = token.substr(0, equals);
    if (command == nullptr) {
        for (const CommandShape& shape : commands()) {
            if (flag.starts_with("--") && findOption(shape, flag.substr(2)) != nullptr) {
                return UsageError{"put the command before " + token};
            }
        }
        std::vector<std::string> flags{"-h", "-V"};
        for (const OptionShape& shape : globalOptions()) {
            flags.push_back("--" + std::string(shape.name));
        }
        return UsageError{"unknown option " + flag + didYouMean(flag, flags)};
    }
    const OptionShape* shape =
        flag.starts_with("--") ? findOption(*command, flag.substr(2)) : nullptr;
    if (shape == nullptr) {
        return UsageError{"unknown option " + flag + " for " + std::string(command->word) +
                          didYouMean(flag, optionFlags(*command))};
    }
    if (equals != std::string::npos) {
        if (shape->kind == Kind::afterTask) {
            return UsageError{"--after-task takes no value"};
        }
        return store(*shape, token.substr(equals + 1));
    }
    if (!takesValue(shape->kind)) {
        return store(*shape, "1");
    }
    // A following option is a forgotten value, not a value: `--label=--x` sends one on purpose.
    if (index + 1 >= arguments_.size() || arguments_[index + 1].starts_with("--")) {
        return UsageError{token + " needs a value"};
    }
    return store(*shape, arguments_[++index]);
}

std::optional<UsageError> Parser::store(const OptionShape& option, const std::string& value) {
    const std::string key = protocolName(option.name);
    if (invocation.request.options.contains(key) || (option.kind == Kind::afterTask && afterTask)) {
        return UsageError{"--" + std::string(option.name) + " is given twice"};
    }
    if (option.kind == Kind::afterTask) {
        afterTask = true;
        return std::nullopt;
    }
    auto checked = checkedValue(option, value);
    if (auto* error = std::get_if<UsageError>(&checked)) {
        return *error;
    }
    invocation.request.options[key] = std::get<std::string>(checked);
    return std::nullopt;
}

/// Rules that involve more than one option.
std::optional<UsageError> checkCombinations(const Parser& parser) {
    const auto& options = parser.invocation.request.options;
    const std::string word(parser.command->word);
    if (parser.command->operand == "ID" && !options.contains("id")) {
        return UsageError{word + " needs an ID, such as the task's id"};
    }
    if (word == "on") {
        int conditions = 0;
        for (const char* key : {"for", "until", "pid", "app", "file"}) {
            conditions += options.contains(key) ? 1 : 0;
        }
        if (conditions > 1) {
            return UsageError{"on takes one of --for, --until, --pid, --app, --file"};
        }
        if (options.contains("label") && !options.contains("pid")) {
            return UsageError{"--label goes with --pid"};
        }
    }
    if (word == "set" && options.empty()) {
        return UsageError{"set needs at least one setting to change, such as --lid off"};
    }
    if (word == "run" && parser.invocation.program.empty()) {
        return UsageError{"run needs a command to run: lumenor run -- COMMAND [ARGUMENT…]"};
    }
    if (options.contains("cancel") && (options.size() > 1 || parser.afterTask)) {
        return UsageError{"--cancel takes no other options"};
    }
    if (parser.afterTask && options.contains("after_pid")) {
        return UsageError{"use either --after-pid or --after-task"};
    }
    return std::nullopt;
}

/// Waiting for a one-shot run means sleeping once it has replied and exited. A session keeps
/// running after the task, so waiting for it would keep the machine up until someone quits the
/// session; there the app's delay gives the agent time to reply instead.
std::optional<UsageError> resolveAfterTask(Invocation& invocation, const AgentLookup& findAgent) {
    auto agent = findAgent ? findAgent() : std::nullopt;
    if (!agent) {
        return UsageError{"--after-task found no coding-agent task among this command's parent "
                          "processes; use --after-pid N or --in DELAY"};
    }
    auto& options = invocation.request.options;
    if (agent->isOneShot) {
        options["after_pid"] = std::to_string(agent->pid);
    } else {
        invocation.note = "The " + agent->name + " session (pid " + std::to_string(agent->pid) +
                          ") keeps running after this task, so the sleep follows the delay "
                          "instead of waiting for it to exit.";
    }
    options.try_emplace("by", agent->name);
    return std::nullopt;
}

/// Shapes what the walk found into the request: defaults, aliases, the run's hold.
std::optional<UsageError> finish(Parser& parser, const AgentLookup& findAgent) {
    Invocation& invocation = parser.invocation;
    if (parser.command == nullptr) {
        parser.command = findCommand("status");
        invocation.request.command = "status";
    }
    if (auto error = checkCombinations(parser)) {
        return error;
    }
    if (parser.afterTask) {
        if (auto error = resolveAfterTask(invocation, findAgent)) {
            return error;
        }
    }
    auto& request = invocation.request;
    if (request.command == "help") {
        invocation.action = Invocation::Action::help;
    } else if (request.command == "mcp") {
        invocation.action = Invocation::Action::mcp;
    } else if (request.command == "run") {
        invocation.action = Invocation::Action::run;
        request.command = "hold";
    } else if (request.options.erase("cancel") > 0) {
        request.command = "cancel-sleep";
    }
    invocation.mayStart =
        parser.command->startsApp && !parser.noStart && request.command != "cancel-sleep";
    return std::nullopt;
}

/// `--json` and `--color` shape even the report of a mistake made before them.
void noteOutputChoices(UsageError& error, const std::vector<std::string>& arguments) {
    for (std::size_t index = 0; index < arguments.size() && arguments[index] != "--"; ++index) {
        const std::string& token = arguments[index];
        if (token == "--json") {
            error.json = true;
        } else if (token.starts_with("--color=")) {
            error.color = colorChoice(token.substr(8)).value_or(error.color);
        } else if (token == "--color") {
            const bool named = index + 1 < arguments.size() && colorChoice(arguments[index + 1]);
            error.color = named ? *colorChoice(arguments[index + 1]) : ColorChoice::always;
        }
    }
}

/// Edit distance with adjacent swaps counted as one edit ("stauts" is one from "status").
std::size_t editDistance(std::string_view a, std::string_view b) {
    std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
    for (std::size_t i = 0; i <= a.size(); ++i) {
        d[i][0] = i;
    }
    for (std::size_t j = 0; j <= b.size(); ++j) {
        d[0][j] = j;
    }
    for (std::size_t i = 1; i <= a.size(); ++i) {
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
            }
        }
    }
    return d[a.size()][b.size()];
}

} // namespace

std::optional<std::string> suggestion(const std::string& typed,
                                      const std::vector<std::string>& candidates) {
    // Far-off words are no typo: allow about one edit per three letters, at least one.
    const std::size_t allowed = std::max<std::size_t>(1, typed.size() / 3);
    std::optional<std::string> best;
    std::size_t bestDistance = allowed + 1;
    const std::string lower = lowercased(typed);
    for (const std::string& candidate : candidates) {
        const std::size_t distance = editDistance(lower, lowercased(candidate));
        if (distance < bestDistance) {
            best = candidate;
            bestDistance = distance;
        }
    }
    return best;
}

Result parse(const std::vector<std::string>& arguments, const AgentLookup& findAgent) {
    Parser parser(arguments);
    std::optional<Result> early = parser.walk();
    if (!early) {
        if (auto error = finish(parser, findAgent)) {
            early = *error;
        } else {
            return parser.invocation;
        }
    }
    if (auto* error = std::get_if<UsageError>(&*early)) {
        noteOutputChoices(*error, arguments);
    } else {
        auto& invocation = std::get<Invocation>(*early);
        invocation.json = parser.invocation.json;
        invocation.color = parser.invocation.color;
    }
    return *early;
}

std::string shortUsage() {
    return "Usage: lumenor [--json] [COMMAND [OPTIONS]]\n"
           "Run `lumenor help` for the commands, `lumenor help COMMAND` for one.\n";
}

} // namespace CommandLine
