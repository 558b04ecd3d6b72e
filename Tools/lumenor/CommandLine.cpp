#include "Tools/lumenor/CommandLine.h"

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

enum class Kind {
    text,      // any value, passed on as typed
    onOff,     // on|off and their synonyms, sent as "on" or "off"
    processId, // a whole number of at least 1
    number,    // a whole number of at least 0
    toggle,    // no value needed; "--now" means now=1
    afterTask, // no value; resolved to after_pid through the agent lookup
};

struct OptionShape {
    std::string_view name; // as typed, without the dashes
    Kind kind;
};

struct CommandShape {
    std::string_view word;
    bool takesId;
    std::span<const OptionShape> options;
};

constexpr std::array onOptions{
    OptionShape{"for", Kind::text},      OptionShape{"until", Kind::text},
    OptionShape{"pid", Kind::processId}, OptionShape{"label", Kind::text},
    OptionShape{"app", Kind::text},      OptionShape{"file", Kind::text},
    OptionShape{"lid", Kind::onOff},     OptionShape{"display", Kind::onOff},
};
constexpr std::array sleepOptions{
    OptionShape{"now", Kind::toggle},
    OptionShape{"in", Kind::text},
    OptionShape{"after-pid", Kind::processId},
    OptionShape{"after-task", Kind::afterTask},
    OptionShape{"by", Kind::text},
};
constexpr std::array holdOptions{OptionShape{"for", Kind::text}};
constexpr std::array setOptions{
    OptionShape{"lid", Kind::onOff},
    OptionShape{"display", Kind::onOff},
    OptionShape{"remote-wake", Kind::onOff},
    OptionShape{"remote-interval", Kind::number},
    OptionShape{"low-battery-stop", Kind::onOff},
    OptionShape{"min-battery", Kind::number},
};

constexpr std::array<CommandShape, 13> commands{{
    {"status", false, {}},
    {"on", false, onOptions},
    {"off", false, {}},
    {"wake", false, {}},
    {"rest", false, {}},
    {"sleep", false, sleepOptions},
    {"cancel-sleep", false, {}},
    {"hold", true, holdOptions},
    {"release", true, {}},
    {"set", false, setOptions},
    {"setup", false, {}},
    {"uninstall-helper", false, {}},
    {"ping", false, {}},
}};

const CommandShape* findCommand(std::string_view word) {
    auto found = std::find_if(commands.begin(), commands.end(),
                              [&](const CommandShape& shape) { return shape.word == word; });
    return found == commands.end() ? nullptr : &*found;
}

const OptionShape* findOption(const CommandShape& command, std::string_view name) {
    auto found = std::find_if(command.options.begin(), command.options.end(),
                              [&](const OptionShape& shape) { return shape.name == name; });
    return found == command.options.end() ? nullptr : &*found;
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
        if (auto word = onOffValue(value)) {
            return option.kind == Kind::onOff ? *word : *word == "on" ? "1" : "0";
        }
        return UsageError{flag + " takes on or off, not “" + value + "”"};
    case Kind::processId:
        if (wholeNumber(value, 1)) {
            return value;
        }
        return UsageError{flag + " takes a process id, not “" + value + "”"};
    case Kind::number:
        if (wholeNumber(value, 0)) {
            return value;
        }
        return UsageError{flag + " takes a whole number, not “" + value + "”"};
    case Kind::text:
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

/// Walks the arguments once; keeps what the checks after the walk need.
class Parser {
public:
    Parser(const std::vector<std::string>& arguments) : arguments_(arguments) {}

    std::optional<Result> walk();

    Invocation invocation;
    const CommandShape* command = nullptr;
    bool afterTask = false;

private:
    std::optional<UsageError> word(const std::string& token);
    std::optional<UsageError> option(const std::string& token, std::size_t& index);
    std::optional<UsageError> store(const OptionShape& option, const std::string& value);

    const std::vector<std::string>& arguments_;
    bool haveId_ = false;
};

std::optional<Result> Parser::walk() {
    for (std::size_t index = 0; index < arguments_.size(); ++index) {
        const std::string& token = arguments_[index];
        if (token == "--help" || token == "-h" || (token == "help" && command == nullptr)) {
            return actionOnly(Invocation::Action::help);
        }
        if (token == "--version") {
            return actionOnly(Invocation::Action::version);
        }
        std::optional<UsageError> error;
        if (token == "--json") {
            invocation.json = true;
        } else if (token.size() > 1 && token[0] == '-') {
            error = option(token, index);
        } else {
            error = word(token);
        }
        if (error) {
            return *error;
        }
    }
    return std::nullopt;
}

std::optional<UsageError> Parser::word(const std::string& token) {
    if (command == nullptr) {
        command = findCommand(token);
        if (command == nullptr) {
            return UsageError{"unknown command “" + token + "”"};
        }
        invocation.request.command = token;
        return std::nullopt;
    }
    if (command->takesId && !haveId_) {
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
    return UsageError{"unexpected argument “" + token + "”"};
}

std::optional<UsageError> Parser::option(const std::string& token, std::size_t& index) {
    if (command == nullptr) {
        return UsageError{"put the command before " + token};
    }
    const std::size_t equals = token.find('=');
    const std::string flag = token.substr(0, equals);
    const OptionShape* shape =
        flag.starts_with("--") ? findOption(*command, flag.substr(2)) : nullptr;
    if (shape == nullptr) {
        return UsageError{"unknown option " + flag + " for " + std::string(command->word)};
    }
    if (equals != std::string::npos) {
        if (shape->kind == Kind::afterTask) {
            return UsageError{"--after-task takes no value"};
        }
        return store(*shape, token.substr(equals + 1));
    }
    if (shape->kind == Kind::toggle) {
        return store(*shape, "1");
    }
    if (shape->kind == Kind::afterTask) {
        return store(*shape, {});
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
    if (parser.command->takesId && !options.contains("id")) {
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
        return UsageError{"--after-task found no Copilot CLI task among this command's parent "
                          "processes; use --after-pid N or --in DELAY"};
    }
    auto& options = invocation.request.options;
    if (agent->isOneShot) {
        options["after_pid"] = std::to_string(agent->pid);
    } else {
        invocation.note = "The Copilot CLI session (pid " + std::to_string(agent->pid) +
                          ") keeps running after this task, so the sleep follows the delay "
                          "instead of waiting for it to exit.";
    }
    options.try_emplace("by", "Copilot CLI");
    return std::nullopt;
}

} // namespace

Result parse(const std::vector<std::string>& arguments, const AgentLookup& findAgent) {
    Parser parser(arguments);
    if (auto early = parser.walk()) {
        return *early;
    }
    if (parser.command == nullptr) {
        parser.command = findCommand("status");
        parser.invocation.request.command = "status";
    }
    if (auto error = checkCombinations(parser)) {
        return *error;
    }
    if (parser.afterTask) {
        if (auto error = resolveAfterTask(parser.invocation, findAgent)) {
            return *error;
        }
    }
    return parser.invocation;
}

std::string helpText() {
    return R"(Usage: lumenor [--json] [COMMAND [OPTIONS]]

Keeps this computer awake, or puts it to sleep, through the running Lumenor app.

Commands:
  status                 what keeps the computer awake now (the default)
  on [CONDITION] [--lid on|off] [--display on|off]
                         keep awake until `off`, or while one condition holds:
                           --for 30m | --until 18:30 | --pid N [--label TEXT]
                           | --app NAME | --file PATH (a download in progress)
  off                    end the keep-awake session
  wake                   wake the display and stay awake
  rest                   turn the display off but stay awake and reachable
  sleep [--in 5m] [--now] [--after-pid N | --after-task] [--by NAME]
                         sleep after a delay (20s, or 3s with --now) once holds
                         have ended; --now does not wait for holds;
                         --after-task waits for the Copilot CLI task that runs
                         this command to reply
  cancel-sleep           cancel a pending sleep
  hold ID [--for 1h]     keep awake under a named hold (one hour by default)
  release ID             end the named hold
  set [--lid on|off] [--display on|off] [--remote-wake on|off]
      [--remote-interval MIN] [--low-battery-stop on|off] [--min-battery PCT]
                         change settings (the interval is kept within 5-240
                         minutes, the battery floor within 1-50 percent)
  setup                  set up lid-closed mode (asks for an administrator)
  uninstall-helper       remove what setup installed
  ping                   check that Lumenor answers

Options take their value as `--for 30m` or `--for=30m`; write `--label=--x` for a
value that starts with two dashes. on|off also accepts yes|no, true|false, 1|0.
--now alone means yes, and `--now=no` means no.

  --json       print the app's reply as one JSON line
  -h, --help   print this help
  --version    print the version

Exit status: 0 done; 1 Lumenor declined (the message says why); 2 usage error;
3 Lumenor isn't running or didn't answer.
)";
}

std::string shortUsage() {
    return "Usage: lumenor [--json] [COMMAND [OPTIONS]]\n"
           "Run `lumenor help` for the commands and their options.\n";
}

} // namespace CommandLine
