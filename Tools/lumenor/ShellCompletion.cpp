// Completion scripts for bash, zsh and fish, written from the command table.

#include "Tools/lumenor/CommandTable.h"
#include "Tools/lumenor/Generators.h"

namespace CommandLine {
namespace {

/// The words a shell can offer for an option's value; empty when it cannot know them (a
/// duration, a name) or the option takes none.
std::string_view choices(const OptionShape& option) {
    if (option.kind == Kind::onOff) {
        return "on off";
    }
    return option.name == "color" ? "auto always never" : "";
}

/// Text inside single quotes, for every shell here.
std::string singleQuoted(std::string_view text) {
    std::string out = "'";
    for (char c : text) {
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return out + "'";
}

/// A description for zsh's _arguments and _describe, which give [ ] : and \ meanings.
std::string zshText(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (c == '[' || c == ']' || c == ':' || c == '\\') {
            out += '\\';
        }
        out += c;
    }
    return out;
}

std::string commandWords() {
    std::string words;
    for (const CommandShape& command : commands()) {
        words += (words.empty() ? "" : " ") + std::string(command.word);
    }
    return words;
}

/// One case of _lumenor_values: the command and option it matches, and the values offered.
std::string bashValueCase(const std::string& pattern, const OptionShape& option) {
    const std::string values = option.kind == Kind::path ? "@file" : std::string(choices(option));
    return "    " + pattern + ") values=\"" + values + "\" ;;\n";
}

std::string bash() {
    std::string valueCases, optionCases, globals;
    for (const OptionShape& option : globalOptions()) {
        globals += " --" + std::string(option.name);
        if (takesValue(option.kind)) {
            valueCases += bashValueCase("*\" --" + std::string(option.name) + "\"", option);
        }
    }
    for (const CommandShape& command : commands()) {
        std::string options;
        for (const OptionShape& option : command.options) {
            options += "--" + std::string(option.name) + " ";
            if (takesValue(option.kind)) {
                valueCases += bashValueCase("\"" + std::string(command.word) + " --" +
                                                std::string(option.name) + "\"",
                                            option);
            }
        }
        const std::string words = command.word == "help" ? commandWords() : options + globals;
        optionCases += "    " + std::string(command.word) + ") words=\"" + words + "\" ;;\n";
    }
    return "# bash completion for lumenor; generated from its command table.\n"
           "\n"
           "# Whether option $2 of command $1 takes a value; the words to offer for it in $values\n"
           "# (@file: file names).\n"
           "_lumenor_values() {\n"
           "    case \"$1 $2\" in\n" +
           valueCases +
           "    *) return 1 ;;\n"
           "    esac\n"
           "}\n"
           "\n"
           "_lumenor() {\n"
           "    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}\n"
           "    local command=\"\" option=\"\" values=\"\" words=\"\" i\n"
           "    # bash splits --color=always into three words at the \"=\".\n"
           "    if [[ $cur == = ]]; then\n"
           "        option=$prev cur=\"\"\n"
           "    elif [[ $prev == = ]]; then\n"
           "        option=${COMP_WORDS[COMP_CWORD - 2]}\n"
           "    elif [[ $prev == --?* ]]; then\n"
           "        option=$prev\n"
           "    fi\n"
           "    for ((i = 1; i < COMP_CWORD; i++)); do\n"
           "        if [[ ${COMP_WORDS[i]} == -- ]]; then\n"
           "            [[ $command == run ]] || continue\n"
           "            # What follows is a command line of its own, for the shell to complete.\n"
           "            if declare -F _command_offset >/dev/null; then\n"
           "                _command_offset $((i + 1))\n"
           "            else\n"
           "                mapfile -t COMPREPLY < <(compgen -c -- \"$cur\")\n"
           "            fi\n"
           "            return\n"
           "        elif [[ ${COMP_WORDS[i]} == -* ]]; then\n"
           "            if _lumenor_values \"$command\" \"${COMP_WORDS[i]}\"; then\n"
           "                [[ ${COMP_WORDS[i + 1]-} == = ]] && ((i++))\n"
           "                ((i++))\n"
           "            fi\n"
           "        elif [[ -z $command ]]; then\n"
           "            command=${COMP_WORDS[i]}\n"
           "        fi\n"
           "    done\n"
           "    if [[ -n $option ]] && _lumenor_values \"$command\" \"$option\"; then\n"
           "        if [[ $values == @file ]]; then\n"
           "            # Quoted on insertion, as bash quotes file names.\n"
           "            compopt -o filenames 2>/dev/null\n"
           "            mapfile -t COMPREPLY < <(compgen -f -- \"$cur\")\n"
           "        else\n"
           "            mapfile -t COMPREPLY < <(compgen -W \"$values\" -- \"$cur\")\n"
           "        fi\n"
           "        return\n"
           "    fi\n"
           "    case $command in\n"
           "    \"\") words=\"" +
           commandWords() + globals + "\" ;;\n" + optionCases +
           "    esac\n"
           "    mapfile -t COMPREPLY < <(compgen -W \"$words\" -- \"$cur\")\n"
           "}\n"
           "complete -F _lumenor lumenor\n";
}

std::string zshOption(const OptionShape& option) {
    std::string described = "--" + std::string(option.name);
    if (takesValue(option.kind)) {
        described += "=";
    }
    described += "[" + zshText(option.help) + "]";
    if (takesValue(option.kind)) {
        const std::string values(choices(option));
        described += ":" + zshText(option.value) + ":" +
                     (option.kind == Kind::path ? "_files"
                      : values.empty()          ? " "
                                                : "(" + values + ")");
    }
    // Help texts may carry an apostrophe, which would end a bare single quote.
    return singleQuoted(described);
}

std::string zsh() {
    std::string described, cases, globals;
    for (const OptionShape& option : globalOptions()) {
        globals += " \\\n                " + zshOption(option);
    }
    for (const CommandShape& command : commands()) {
        std::string text = std::string(command.word) + ":" + zshText(command.summary);
        described += "        " + singleQuoted(text) + "\n";
        cases += "        " + std::string(command.word) + ")\n";
        if (command.word == "run") {
            // _arguments leaves "--" among the words _normal would read as the command.
            cases += "            local dashes=${words[(i)--]}\n"
                     "            if (( dashes < CURRENT )); then\n"
                     "                words=(\"${(@)words[dashes + 1, -1]}\")\n"
                     "                (( CURRENT -= dashes ))\n"
                     "                _normal\n"
                     "                return\n"
                     "            fi\n";
        }
        // -S: "--" ends the options.
        cases += "            _arguments -S" + globals;
        for (const OptionShape& option : command.options) {
            cases += " \\\n                " + zshOption(option);
        }
        if (command.word == "help") {
            cases += " \\\n                '1:command:(" + commandWords() + ")'";
        } else if (!command.operand.empty()) {
            cases += " \\\n                '1:" + std::string(command.operand) + ": '";
        }
        cases += " ;;\n";
    }
    std::string topGlobals;
    for (const OptionShape& option : globalOptions()) {
        topGlobals += " \\\n        " + zshOption(option);
    }
    return "#compdef lumenor\n"
           "# zsh completion for lumenor; generated from its command table.\n"
           "_lumenor() {\n"
           "    local curcontext=$curcontext state line\n"
           // Not "commands": that is zsh's table of the commands on PATH, which _normal reads.
           "    local -a subcommands\n"
           "    subcommands=(\n" +
           described +
           "    )\n"
           "    _arguments -C" +
           topGlobals +
           " \\\n        '1:command:->command' \\\n        '*::argument:->argument'\n"
           "    case $state in\n"
           "    command) _describe -t commands 'lumenor command' subcommands ;;\n"
           "    argument)\n"
           "        case $line[1] in\n" +
           cases +
           "        esac ;;\n"
           "    esac\n"
           "}\n"
           "_lumenor \"$@\"\n";
}

std::string fishOption(std::string_view condition, const OptionShape& option) {
    std::string text =
        "complete -c lumenor -n " + singleQuoted(condition) + " -l " + std::string(option.name);
    if (option.kind == Kind::path) {
        text += " -r -F";
    } else if (!choices(option).empty()) {
        text += " -x -a " + singleQuoted(choices(option));
    } else if (takesValue(option.kind)) {
        text += " -x";
    }
    return text + " -d " + singleQuoted(option.help) + "\n";
}

std::string fish() {
    const std::string words = commandWords();
    std::string text =
        "# fish completion for lumenor; generated from its command table.\n"
        "\n"
        "# Whether the word being completed belongs to the command line after `run --`.\n"
        "function __lumenor_in_run_command\n"
        "    set -l words (commandline -opc)\n"
        "    set -l dashes (contains -i -- -- $words)\n"
        "    and contains -- run $words[1..$dashes]\n"
        "end\n"
        "\n"
        "# Completes that command line as fish completes any other.\n"
        "function __lumenor_run_command\n"
        "    set -l words (commandline -opc)\n"
        "    set -l dashes (contains -i -- -- $words)\n"
        "    set -l line (string escape -- $words[(math $dashes + 1)..-1]) "
        "(commandline -ct)\n"
        "    complete -C \"$line\"\n"
        "end\n"
        "\n"
        "complete -c lumenor -f\n"
        "complete -c lumenor -n __lumenor_in_run_command -x -a '(__lumenor_run_command)'\n";
    const std::string notRunning = "not __lumenor_in_run_command; and ";
    for (const CommandShape& command : commands()) {
        text += "complete -c lumenor -n " +
                singleQuoted("not __fish_seen_subcommand_from " + words) + " -a " +
                std::string(command.word) + " -d " + singleQuoted(command.summary) + "\n";
    }
    for (const CommandShape& command : commands()) {
        const std::string when =
            notRunning + "__fish_seen_subcommand_from " + std::string(command.word);
        for (const OptionShape& option : command.options) {
            text += fishOption(when, option);
        }
    }
    text += "complete -c lumenor -n '__fish_seen_subcommand_from help' -x -a " +
            singleQuoted(words) + "\n";
    for (const OptionShape& option : globalOptions()) {
        text += fishOption("not __lumenor_in_run_command", option);
    }
    return text;
}

} // namespace

std::string completionScript(const std::string& shell) {
    if (shell == "bash") {
        return bash();
    }
    if (shell == "zsh") {
        return zsh();
    }
    return shell == "fish" ? fish() : std::string();
}

} // namespace CommandLine
