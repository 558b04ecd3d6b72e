// The help texts, written from the command table so that they never drift from the parser.

#include "Tools/lumenor/CommandLine.h"
#include "Tools/lumenor/CommandTable.h"

#include "LumenorCore/Utf8.h"

#include <algorithm>

namespace CommandLine {
namespace {

constexpr std::size_t column = 24;

std::string flagText(const OptionShape& option) {
    std::string text = "--" + std::string(option.name);
    if (!option.value.empty()) {
        text += " " + std::string(option.value);
    }
    return text;
}

constexpr std::size_t width = 79;

/// "  left        right", the right side starting at `column` or on the next line, wrapped at
/// word boundaries to the terminal's customary width.
std::string row(const std::string& left, std::string_view right) {
    std::string text = "  " + left;
    std::size_t used = Utf8::length(text);
    const std::string indent(column, ' ');
    text += used + 2 <= column ? std::string(column - used, ' ') : "\n" + indent;
    used = column;
    while (!right.empty()) {
        const std::size_t space = right.find(' ');
        const std::string_view word = right.substr(0, space);
        if (used > column && used + 1 + Utf8::length(word) > width) {
            text += "\n" + indent;
            used = column;
        } else if (used > column) {
            text += ' ';
            ++used;
        }
        text += word;
        used += Utf8::length(word);
        right.remove_prefix(space == std::string_view::npos ? right.size() : space + 1);
    }
    return text + "\n";
}

std::string synopsis(const CommandShape& command) {
    std::string text = "lumenor " + std::string(command.word);
    if (!command.options.empty()) {
        text += " [OPTIONS]";
    }
    if (!command.operand.empty()) {
        text += " " + std::string(command.operand);
    }
    return text;
}

constexpr std::string_view exitStatuses =
    "Exit status: 0 done; 1 Lumenor declined (the message says why); 2 usage error;\n"
    "3 Lumenor isn't running or didn't answer. `run` exits with its command's status, or\n"
    "125 when it could not keep the computer awake (the command did not run).\n";

} // namespace

std::string helpText() {
    std::string text = "Usage: lumenor [--json] [--color WHEN] [COMMAND [OPTIONS]]\n\n"
                       "Keeps this computer awake, or puts it to sleep, through the running "
                       "lumenor-app.\n\nCommands:\n";
    for (const CommandShape& command : commands()) {
        std::string left(command.word);
        if (!command.operand.empty() && command.operand.size() < 10) {
            left += " " + std::string(command.operand);
        }
        text += row(left, command.summary);
    }
    text += "\nOptions for every command:\n";
    for (const OptionShape& option : globalOptions()) {
        text += row(flagText(option), option.help);
    }
    text += "\nOptions take their value as `--for 30m` or `--for=30m`; write `--label=--x` for a\n"
            "value that starts with two dashes. on|off also accepts yes|no, true|false, 1|0.\n"
            "Run `lumenor help COMMAND` (or `lumenor COMMAND --help`) for a command's options.\n\n";
    return text + std::string(exitStatuses);
}

std::string commandHelp(const std::string& word) {
    const CommandShape* command = findCommand(word);
    if (command == nullptr) {
        return {};
    }
    std::string summary(command->summary);
    summary[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(summary[0])));
    std::string text = "Usage: " + synopsis(*command) + "\n\n" + summary + ".\n";
    if (!command->details.empty()) {
        text += std::string(command->details) + "\n";
    }
    text += "\nOptions:\n";
    for (const OptionShape& option : command->options) {
        text += row(flagText(option), option.help);
    }
    text += row("--json", "print every outcome as one JSON object");
    text += row("-h, --help", "print this help");
    text += "\nExample:\n  " + std::string(command->example) + "\n\n";
    return text + std::string(exitStatuses);
}

} // namespace CommandLine
