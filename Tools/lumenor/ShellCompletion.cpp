// Completion scripts for bash, zsh and fish, written from the command table.

#include "Tools/lumenor/CommandTable.h"
#include "Tools/lumenor/Generators.h"

namespace CommandLine {
namespace {

/// The values a shell can offer for an option; empty when it cannot know them.
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

std::string bash() {
    std::string commandWords, optionCases, valueCases, globals;
    for (const OptionShape& option : globalOptions()) {
        globals += " --" + std::string(option.name);
    }
    for (const CommandShape& command : commands()) {
        commandWords += " " + std::string(command.word);
        if (command.word == "help") {
            continue; // completes command words instead, below
        }
        optionCases += "        " + std::string(command.word) + ") options=\"";
        for (const OptionShape& option : command.options) {
            optionCases += "--" + std::string(option.name) + " ";
        }
        optionCases += "\" ;;\n";
    }
    for (const CommandShape& command : commands()) {
        for (const OptionShape& option : command.options) {
            if (!choices(option).empty()) {
                valueCases += "        --" + std::string(option.name) +
                              ") COMPREPLY=($(compgen -W \"" + std::string(choices(option)) +
                              "\" -- \"$cur\")); return ;;\n";
            }
        }
    }
    return "# bash completion for lumenor; generated from its command table.\n"
           "_lumenor() {\n"
           "    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}\n"
           "    local command= i\n"
           "    for ((i = 1; i < COMP_CWORD; i++)); do\n"
           "        case ${COMP_WORDS[i]} in\n"
           "        --) [[ $command == run ]] && { COMPREPLY=($(compgen -c -- \"$cur\")); return; "
           "} ;;\n"
           "        -*) ;;\n"
           "        *) [[ -z $command ]] && command=${COMP_WORDS[i]} ;;\n"
           "        esac\n"
           "    done\n"
           "    case $prev in\n" +
           valueCases +
           "        --color) COMPREPLY=($(compgen -W \"auto always never\" -- \"$cur\")); return "
           ";;\n"
           "        --file) COMPREPLY=($(compgen -f -- \"$cur\")); return ;;\n"
           "    esac\n"
           "    if [[ -z $command ]]; then\n"
           "        COMPREPLY=($(compgen -W \"" +
           commandWords.substr(1) + globals +
           "\" -- \"$cur\"))\n"
           "        return\n"
           "    fi\n"
           "    local options=\n"
           "    case $command in\n" +
           optionCases + "        help) COMPREPLY=($(compgen -W \"" + commandWords.substr(1) +
           "\" -- \"$cur\")); return ;;\n"
           "    esac\n"
           "    COMPREPLY=($(compgen -W \"$options --json --color --help\" -- \"$cur\"))\n"
           "}\n"
           "complete -F _lumenor lumenor\n";
}

std::string zshOption(const OptionShape& option) {
    std::string described = "'--" + std::string(option.name);
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
    return described + "'";
}

std::string zsh() {
    std::string described, cases;
    for (const CommandShape& command : commands()) {
        std::string text = std::string(command.word) + ":" + zshText(command.summary);
        described += "        " + singleQuoted(text) + "\n";
        cases += "        " + std::string(command.word) + ")\n            _arguments";
        for (const OptionShape& option : command.options) {
            cases += " \\\n                " + zshOption(option);
        }
        if (command.word == "run") {
            cases += " \\\n                '*::command:_normal'";
        } else if (command.word == "help") {
            cases += " \\\n                '1:command:(" + [] {
                std::string words;
                for (const CommandShape& shape : commands()) {
                    words += (words.empty() ? "" : " ") + std::string(shape.word);
                }
                return words;
            }() + ")'";
        } else if (!command.operand.empty()) {
            cases += " \\\n                '1:" + std::string(command.operand) + ": '";
        }
        cases += " ;;\n";
    }
    std::string globals;
    for (const OptionShape& option : globalOptions()) {
        globals += " \\\n        " + zshOption(option);
    }
    return "#compdef lumenor\n"
           "# zsh completion for lumenor; generated from its command table.\n"
           "_lumenor() {\n"
           "    local curcontext=$curcontext state line\n"
           "    local -a commands\n"
           "    commands=(\n" +
           described +
           "    )\n"
           "    _arguments -C" +
           globals +
           " \\\n        '1:command:->command' \\\n        '*::argument:->argument'\n"
           "    case $state in\n"
           "    command) _describe -t commands 'lumenor command' commands ;;\n"
           "    argument)\n"
           "        case $line[1] in\n" +
           cases +
           "        esac ;;\n"
           "    esac\n"
           "}\n"
           "_lumenor \"$@\"\n";
}

std::string fish() {
    std::string text = "# fish completion for lumenor; generated from its command table.\n"
                       "complete -c lumenor -f\n";
    std::string words;
    for (const CommandShape& command : commands()) {
        words += " " + std::string(command.word);
    }
    for (const CommandShape& command : commands()) {
        text += "complete -c lumenor -n " +
                singleQuoted("not __fish_seen_subcommand_from" + words) + " -a " +
                std::string(command.word) + " -d " + singleQuoted(command.summary) + "\n";
    }
    for (const CommandShape& command : commands()) {
        const std::string when =
            singleQuoted("__fish_seen_subcommand_from " + std::string(command.word));
        for (const OptionShape& option : command.options) {
            text += "complete -c lumenor -n " + when + " -l " + std::string(option.name);
            if (option.kind == Kind::path) {
                text += " -r -F";
            } else if (!choices(option).empty()) {
                text += " -x -a " + singleQuoted(choices(option));
            } else if (takesValue(option.kind)) {
                text += " -x";
            }
            text += " -d " + singleQuoted(option.help) + "\n";
        }
    }
    text += "complete -c lumenor -n '__fish_seen_subcommand_from help' -x -a " +
            singleQuoted(words.substr(1)) + "\n";
    text += "complete -c lumenor -n '__fish_seen_subcommand_from run' -F\n";
    for (const OptionShape& option : globalOptions()) {
        text += "complete -c lumenor -l " + std::string(option.name);
        if (!choices(option).empty()) {
            text += " -x -a " + singleQuoted(choices(option));
        }
        text += " -d " + singleQuoted(option.help) + "\n";
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
