// The manual pages lumenor(1) and lumenor-app(1), written from the command table.

#include "Tools/lumenor/CommandTable.h"
#include "Tools/lumenor/Generators.h"

#include <array>

namespace CommandLine {
namespace {

/// A name and what it means, for the lists both pages share.
struct Entry {
    std::string_view name;
    std::string_view text;
};

// Both programs read the same places, so both pages list them.
constexpr std::array environment{
    Entry{"HOME", "The home folder. When it is unset or empty, the account database's home is "
                  "used."},
    Entry{"LUMENOR_HOME", "Used in place of the home folder, for tests and sandboxes."},
    Entry{"XDG_STATE_HOME", "When an absolute path, the support folder (socket, state and log) "
                            "is `$XDG_STATE_HOME/lumenor` instead of `~/.local/state/lumenor`."},
    Entry{"XDG_CONFIG_HOME", "When an absolute path, used instead of `~/.config` for the "
                             "settings and the Open at Login entry."},
    Entry{"XDG_DATA_HOME, XDG_DATA_DIRS",
          "Where lumenor-app looks for the desktop entries of the applications that "
          "`on --app` names."},
    Entry{"LUMENOR_ASSUME_LID",
          "1 for a computer with a lid that lumenor-app does not detect, 0 for one without: "
          "lid-closed mode is offered only where there is a lid."},
    Entry{"LUMENOR_NO_START",
          "1 to keep commands from starting lumenor-app when none runs (as `--no-start`)."},
    Entry{"NO_COLOR", "When set and not empty, no colour (unless `--color=always`)."},
};

constexpr std::array files{
    Entry{"~/.local/state/lumenor/lumenor.sock",
          "The socket on which lumenor-app answers the command."},
    Entry{"~/.local/state/lumenor/state.json",
          "The keep-awake session and holds, so that they outlive a restart."},
    Entry{"~/.local/state/lumenor/lumenor.log", "What Lumenor did and why."},
    Entry{"~/.config/Lumenor/Lumenor.conf", "The settings."},
    Entry{"~/.config/autostart/com.corvata.lumenor.desktop",
          "Starts lumenor-app at login (the panel's Open at Login)."},
    Entry{"~/.local/bin/lumenor", "The command, linked there by the panel's Agent Access."},
    Entry{"/usr/local/libexec/lumenor/helper, /etc/sudoers.d/lumenor",
          "The scheduled-wake helper and the rule that lets it run as root, installed by "
          "`lumenor setup`."},
};

/// A page broken at spaces into source lines of at most 80 bytes, which is what man page
/// checkers ask for; a text line that would start with a control character is guarded (the
/// macro lines are all shorter).
std::string wrapped(const std::string& text) {
    std::string out;
    std::size_t lineStart = 0, lastSpace = std::string::npos;
    for (char c : text) {
        if (c == '\n') {
            lineStart = out.size() + 1;
            lastSpace = std::string::npos;
        } else if (c == ' ') {
            lastSpace = out.size();
        }
        out += c;
        if (out.size() - lineStart > 80 && lastSpace != std::string::npos) {
            out[lastSpace] = '\n';
            lineStart = lastSpace + 1;
            lastSpace = std::string::npos;
            if (out[lineStart] == '.' || out[lineStart] == '\'') {
                out.insert(lineStart, "\\&");
            }
        }
    }
    return out;
}

/// Text safe in roff: backslashes and minus signs escaped, no line starting with a control
/// character, the typographer's quotes and dashes written as roff names them, and `words` in
/// backquotes (commands to type, in the table's texts) set in bold.
std::string roff(std::string_view text) {
    std::string out;
    bool bold = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\\') {
            out += "\\e";
        } else if (c == '-') {
            out += "\\-";
        } else if (c == '`') {
            out += bold ? "\\fR" : "\\fB";
            bold = !bold;
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
    return bold ? out + "\\fR" : out;
}

std::string heading(std::string_view name, std::string_view summary, const std::string& version,
                    const std::string& date) {
    std::string upper(name);
    for (char& c : upper) {
        c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    }
    return ".TH " + roff(upper) + " 1 " + date + " \"Lumenor " + roff(version) +
           "\" \"User Commands\"\n.SH NAME\n" + roff(name) + " \\- " + roff(summary) + "\n";
}

std::string entries(std::string_view section, std::span<const Entry> list) {
    std::string text = ".SH " + std::string(section) + "\n";
    for (const Entry& entry : list) {
        text += ".TP\n.B " + roff(entry.name) + "\n" + roff(entry.text) + "\n";
    }
    return text;
}

std::string seeAlso(std::string_view other) {
    return ".SH SEE ALSO\n.BR " + std::string(other) +
           " (1),\n.BR systemd\\-inhibit (1),\n.BR logind.conf (5),\n.BR sudo (8)\n";
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

std::string manPage(const std::string& version, const std::string& date) {
    std::string text =
        heading("lumenor", "keep this computer awake, or put it to sleep", version, date) +
        ".SH SYNOPSIS\n"
        ".B lumenor\n"
        "[\\fB\\-\\-json\\fR] [\\fB\\-\\-color\\fR \\fIWHEN\\fR] "
        "[\\fICOMMAND\\fR [\\fIOPTIONS\\fR]]\n"
        ".SH DESCRIPTION\n"
        "\\fBlumenor\\fR asks the running \\fBlumenor\\-app\\fR to keep this computer awake "
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
    text += ".PP\nOptions take their value as \\fB\\-\\-for 30m\\fR or \\fB\\-\\-for=30m\\fR.\n"
            "on|off also accepts yes|no, true|false and 1|0.\n"
            ".SH EXIT STATUS\n"
            ".TP\n.B 0\nDone.\n"
            ".TP\n.B 1\nLumenor declined; the message says why.\n"
            ".TP\n.B 2\nUsage error.\n"
            ".TP\n.B 3\nLumenor isn't running or didn't answer.\n"
            ".PP\n\\fBrun\\fR exits with its command's status, or 128+N after signal N; "
            "with 125 when it could not keep the computer awake, and then runs nothing.\n" +
            entries("ENVIRONMENT", environment) + entries("FILES", files) +
            ".SH EXAMPLES\n"
            ".nf\n"
            "lumenor on \\-\\-for 2h\n"
            "lumenor run \\-\\-label build \\-\\- make \\-j8\n"
            "lumenor hold task\\-7 \\-\\-for 30m && lumenor release task\\-7\n"
            "lumenor holds \\-\\-json\n"
            "lumenor sleep \\-\\-after\\-task\n"
            ".fi\n" +
            seeAlso("lumenor\\-app");
    return wrapped(text);
}

std::string appManPage(const std::string& version, const std::string& date) {
    return wrapped(
        heading("lumenor-app", "keep this computer awake from a tray icon", version, date) +
        ".SH SYNOPSIS\n"
        ".B lumenor\\-app\n"
        "[\\fB\\-\\-snapshot\\fR \\fIFILE\\fR [\\fBlight\\fR]]\n"
        ".SH DESCRIPTION\n"
        "\\fBlumenor\\-app\\fR keeps this computer awake on request and puts it to sleep "
        "again on request. It shows a tray icon whose panel offers the choices, and serves "
        "the \\fBlumenor\\fR command, which gives scripts and coding agents the same "
        "controls. Without a display it runs without a tray icon and the command works as "
        "usual. Started while it runs, it opens the running app's panel.\n"
        ".SH OPTIONS\n"
        ".TP\n\\fB\\-\\-snapshot\\fR \\fIFILE\\fR [\\fBlight\\fR]\n"
        "Render the panel to a PNG image, dark unless \\fBlight\\fR is given, and exit.\n"
        ".TP\n.BR \\-h \", \" \\-\\-help\nPrint a short help and exit.\n"
        ".TP\n.B \\-\\-version\nPrint the version and exit.\n"
        ".SH EXIT STATUS\n"
        ".TP\n.B 0\nIt ran and was quit, printed what was asked, or found itself running "
        "already and asked that copy to show its panel.\n"
        ".TP\n.B 1\nIt could not start: its support folder, lock file or socket could not "
        "be used; the message says why.\n" +
        entries("ENVIRONMENT", environment) + entries("FILES", files) + seeAlso("lumenor"));
}

} // namespace CommandLine
