// The manual page lumenor(1), written from the command table.

#include "Tools/lumenor/CommandTable.h"
#include "Tools/lumenor/Generators.h"

namespace CommandLine {
namespace {

/// Text safe in roff: backslashes and minus signs escaped, no line starting with a control
/// character, the typographer's quotes and dashes written as roff names them.
std::string roff(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\\') {
            out += "\\e";
        } else if (c == '-') {
            out += "\\-";
        } else if ((c == '.' || c == '\'') && (out.empty() || out.back() == '\n')) {
            out += "\\&";
            out += c;
        } else if (text.substr(i).starts_with("…")) {
            out += "\\&...";
            i += std::string_view("…").size() - 1;
        } else if (text.substr(i).starts_with("—")) {
            out += "\\(em";
            i += std::string_view("—").size() - 1;
        } else {
            out += c;
        }
    }
    return out;
}

std::string optionItem(const OptionShape& option) {
    std::string text = ".TP\n.B \\-\\-" + roff(option.name);
    if (!option.value.empty()) {
        text = ".TP\n\\fB\\-\\-" + roff(option.name) + "\\fR \\fI" + roff(option.value) + "\\fR";
    }
    return text + "\n" + roff(option.help) + "\n";
}

std::string commandItem(const CommandShape& command) {
    std::string text = ".TP\n\\fB" + roff(command.word) + "\\fR";
    if (!command.options.empty()) {
        text += " [\\fIOPTIONS\\fR]";
    }
    if (!command.operand.empty()) {
        text += " \\fI" + roff(command.operand) + "\\fR";
    }
    text += "\n" + roff(command.summary) + ".\n";
    if (!command.details.empty()) {
        text += roff(command.details) + "\n";
    }
    if (!command.options.empty()) {
        text += ".RS\n";
        for (const OptionShape& option : command.options) {
            text += optionItem(option);
        }
        text += ".RE\n";
    }
    return text + ".IP\nExample: \\fB" + roff(command.example) + "\\fR\n";
}

} // namespace

std::string manPage(const std::string& version) {
    std::string text = ".TH LUMENOR 1 \"\" \"lumenor " + roff(version) +
                       "\" \"User Commands\"\n"
                       ".SH NAME\n"
                       "lumenor \\- keep this computer awake, or put it to sleep\n"
                       ".SH SYNOPSIS\n"
                       ".B lumenor\n"
                       "[\\fB\\-\\-json\\fR] [\\fB\\-\\-color\\fR \\fIWHEN\\fR] "
                       "[\\fICOMMAND\\fR [\\fIOPTIONS\\fR]]\n"
                       ".SH DESCRIPTION\n"
                       "\\fBlumenor\\fR asks the running lumenor-app to keep this computer awake "
                       "for a while, for a process or under named holds, or to put it to sleep. "
                       "Without a command it prints the status.\n"
                       ".SH COMMANDS\n";
    for (const CommandShape& command : commands()) {
        text += commandItem(command);
    }
    text += ".SH OPTIONS\nThese work with every command.\n";
    for (const OptionShape& option : globalOptions()) {
        text += optionItem(option);
    }
    text += ".PP\nOptions take their value as \\fB\\-\\-for 30m\\fR or \\fB\\-\\-for=30m\\fR. "
            "on|off also accepts yes|no, true|false and 1|0.\n"
            ".SH EXIT STATUS\n"
            ".TP\n.B 0\nDone.\n"
            ".TP\n.B 1\nLumenor declined; the message says why.\n"
            ".TP\n.B 2\nUsage error.\n"
            ".TP\n.B 3\nLumenor isn't running or didn't answer.\n"
            ".PP\n\\fBrun\\fR exits with its command's status, or 128+N after signal N; "
            "with 125 when it could not keep the computer awake, and then runs nothing.\n"
            ".SH ENVIRONMENT\n"
            ".TP\n.B NO_COLOR\nWhen set and not empty, no colour (unless "
            "\\fB\\-\\-color=always\\fR).\n"
            ".TP\n.B LUMENOR_HOME\nUsed in place of the home folder to find the app's socket.\n"
            ".SH EXAMPLES\n"
            ".nf\n"
            "lumenor on \\-\\-for 2h\n"
            "lumenor run \\-\\-label build \\-\\- make \\-j8\n"
            "lumenor hold task\\-7 \\-\\-for 30m && lumenor release task\\-7\n"
            "lumenor holds \\-\\-json\n"
            "lumenor sleep \\-\\-after\\-task\n"
            ".fi\n";
    return text;
}

} // namespace CommandLine
