#pragma once

#include <span>
#include <string_view>

/// Every command and option of `lumenor`, with the words that explain them. The parser, the
/// help, the shell completions and the manual all read this one table.
namespace CommandLine {

enum class Kind {
    text,      // any value, passed on as typed
    path,      // a file; made absolute and checked before sending
    onOff,     // on|off and their synonyms, sent as "on" or "off"
    processId, // a whole number of at least 1
    number,    // a whole number of at least 0
    toggle,    // no value needed; "--now" means now=1
    afterTask, // no value; resolved to after_pid through the agent lookup
    cancel,    // no value; turns `sleep` into `cancel-sleep`
};

struct OptionShape {
    std::string_view name; // as typed, without the dashes
    Kind kind;
    std::string_view value; // what the help calls its value ("DURATION"); empty for none
    std::string_view help;  // one line: what it does, with units and ranges
};

struct CommandShape {
    std::string_view word;
    /// The operand after the word: "ID", "-- COMMAND [ARGUMENT…]"; empty for none.
    std::string_view operand;
    /// One line for lists of commands.
    std::string_view summary;
    /// A paragraph for the command's own help; may be empty.
    std::string_view details;
    std::span<const OptionShape> options;
    /// One command line a person may copy.
    std::string_view example;
    /// Asks for something to happen, so starts the app when none runs (unless --no-start).
    bool startsApp = false;
};

/// The commands in the order the help lists them.
std::span<const CommandShape> commands();

/// Options every command takes (--json, --color, --help, --version).
std::span<const OptionShape> globalOptions();

/// The command named `word`; null for none.
const CommandShape* findCommand(std::string_view word);

/// The option of `command` named `name` (without dashes); null for none.
const OptionShape* findOption(const CommandShape& command, std::string_view name);

/// Whether the option needs a value after it (`--for 30m`).
bool takesValue(Kind kind);

} // namespace CommandLine
