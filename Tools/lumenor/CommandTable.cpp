#include "Tools/lumenor/CommandTable.h"

#include "LumenorCore/LumenorSettings.h"

#include <algorithm>
#include <array>
#include <string>

namespace CommandLine {
namespace {

constexpr std::array onOptions{
    OptionShape{"for", Kind::text, "DURATION", "keep awake this long: 30m, 2h, 1h30m"},
    OptionShape{"until", Kind::text, "TIME", "keep awake until this clock time: 18:30, 6pm"},
    OptionShape{"pid", Kind::processId, "PID", "keep awake while this process runs"},
    OptionShape{"label", Kind::text, "TEXT", "what to call the process (with --pid)"},
    OptionShape{"app", Kind::text, "NAME", "keep awake while this application runs"},
    OptionShape{"file", Kind::path, "PATH",
                "keep awake while this file still grows (a download); relative to here"},
    OptionShape{"lid", Kind::onOff, "on|off", "also switch lid-closed mode on or off"},
    OptionShape{"display", Kind::onOff, "on|off", "also keep the display lit, or not"},
};
constexpr std::array sleepOptions{
    OptionShape{"in", Kind::text, "DELAY",
                "sleep after this delay (20s by default, 3s with --now)"},
    OptionShape{"now", Kind::toggle, "", "do not wait for holds to end"},
    OptionShape{"after-pid", Kind::processId, "PID", "sleep once this process has exited"},
    OptionShape{"after-task", Kind::afterTask, "",
                "sleep once the coding-agent run this command is part of has replied"},
    OptionShape{"by", Kind::text, "NAME", "who asks, for the log"},
    OptionShape{"cancel", Kind::cancel, "", "cancel a pending sleep (as cancel-sleep)"},
};
constexpr std::array holdOptions{
    OptionShape{"for", Kind::text, "DURATION", "how long from now: 30m, 2h (1 hour by default)"},
    OptionShape{"label", Kind::text, "TEXT", "what the status calls the hold"},
    OptionShape{"pid", Kind::processId, "PID",
                "end the hold when this process exits (no time limit unless --for)"},
    OptionShape{"display", Kind::toggle, "", "keep the display lit too"},
};
constexpr std::array runOptions{
    OptionShape{"label", Kind::text, "TEXT", "what the status calls the hold (the command line)"},
    OptionShape{"display", Kind::toggle, "", "keep the display lit too"},
};
// What `set` says about each setting, in the order the help lists them; the option's name, its
// value and a number's range come from the settings table.
struct SetWords {
    LumenorSettings::Id id;
    std::string_view value; // for a number; a switch takes on|off
    std::string_view help;
};
constexpr std::array setWords{
    SetWords{LumenorSettings::Id::lidClosedMode, "", "lid-closed mode"},
    SetWords{LumenorSettings::Id::keepDisplayOn, "", "keep the display lit during sessions"},
    SetWords{LumenorSettings::Id::remoteWakeEnabled, "", "wake at intervals while asleep"},
    SetWords{LumenorSettings::Id::remoteWakeInterval, "MINUTES", "minutes between remote wakes"},
    SetWords{LumenorSettings::Id::stopOnLowBattery, "",
             "stop keeping awake on battery below the floor"},
    SetWords{LumenorSettings::Id::minimumBattery, "PERCENT", "the battery floor in percent"},
};

// The command line spells the wire option with '-' for '_' ("remote_interval" → remote-interval).
std::string dashed(std::string_view option) {
    std::string name(option);
    std::replace(name.begin(), name.end(), '_', '-');
    return name;
}

std::span<const OptionShape> setOptions() {
    // The option shapes only view their texts, so the texts live as long as the program.
    struct Texts {
        std::string name, help;
    };
    static const auto texts = [] {
        std::array<Texts, setWords.size()> made;
        for (std::size_t i = 0; i < setWords.size(); ++i) {
            const auto& setting = LumenorSettings::of(setWords[i].id);
            made[i] = {dashed(setting.option), std::string(setWords[i].help)};
            if (!setting.isBoolean)
                made[i].help += ", " + std::to_string(setting.minimum) + " to " +
                                std::to_string(setting.maximum) + " (nearer end if outside)";
        }
        return made;
    }();
    static const auto options = [] {
        std::array<OptionShape, setWords.size()> made;
        for (std::size_t i = 0; i < setWords.size(); ++i) {
            const bool isSwitch = LumenorSettings::of(setWords[i].id).isBoolean;
            made[i] = {texts[i].name, isSwitch ? Kind::onOff : Kind::number,
                       isSwitch ? "on|off" : setWords[i].value, texts[i].help};
        }
        return made;
    }();
    return options;
}

constexpr std::array printScriptOptions{
    OptionShape{"print-script", Kind::toggle, "",
                "print the script for `| sudo sh` instead (no app or dialog needed)"},
};

constexpr std::array globals{
    OptionShape{"json", Kind::toggle, "", "print every outcome as one JSON object"},
    OptionShape{"color", Kind::text, "WHEN",
                "emoji and colour: auto (on a terminal, colour unless NO_COLOR), always, never"},
    OptionShape{"help", Kind::toggle, "", "print help (-h)"},
    OptionShape{"version", Kind::toggle, "", "print the version (-V)"},
    OptionShape{"no-start", Kind::toggle, "",
                "do not start Lumenor when it is not running (as LUMENOR_NO_START=1)"},
};

// Built on first use: the `set` options are made from the settings table at run time.
const std::array<CommandShape, 19>& table() {
    static const std::array<CommandShape, 19> shapes{{
        {"status",
         "",
         "what keeps the computer awake now (the default command)",
         "Prints the state, pending sleep, battery and other programs' inhibitors.",
         {},
         "lumenor status --json"},
        {"on", "", "keep awake until `off`, or while one condition holds",
         "Takes at most one of --for, --until, --pid, --app, --file. Without one the session lasts "
         "until `lumenor off`.",
         onOptions, "lumenor on --for 2h", true},
        {"off",
         "",
         "end the keep-awake session",
         "Holds stay; the reply names any that remain.",
         {},
         "lumenor off"},
        {"wake", "", "wake the display and stay awake", "", {}, "lumenor wake", true},
        {
            "rest",
            "",
            "turn the display off but stay awake and reachable",
            "",
            {},
            "lumenor rest",
        },
        {"sleep", "", "sleep after a delay, once holds have ended",
         "The delay starts now; the computer sleeps when it has passed and no hold is left.",
         sleepOptions, "lumenor sleep --in 5m", true},
        {"cancel-sleep", "", "cancel a pending sleep", "", {}, "lumenor cancel-sleep"},
        {"hold", "ID", "keep awake under a named hold; again with the same ID extends it",
         "IDs are yours to choose; `release ID` ends the hold early.", holdOptions,
         "lumenor hold build-42 --for 30m --label \"nightly build\"", true},
        {"release",
         "ID",
         "end the named hold",
         "An ID that names no hold is refused and the holds that exist are listed.",
         {},
         "lumenor release build-42"},
        {"holds",
         "",
         "list the holds: id, label, time left or process",
         "",
         {},
         "lumenor holds --json"},
        {"run", "-- COMMAND [ARGUMENT…]", "run a command and keep awake exactly while it runs",
         "The hold is tied to the command's process and ends when it exits, even if this one is "
         "killed. Input, output and signals pass through; the exit status is the command's (128+N "
         "after signal N). When the computer cannot be kept awake, nothing runs and the exit "
         "status is 125.",
         runOptions, "lumenor run -- make -j8", true},
        {"inhibitors",
         "",
         "list other programs' logind inhibitors (who, why, what, mode)",
         "Explains why the computer does not sleep, or why the lid is handled elsewhere.",
         {},
         "lumenor inhibitors"},
        {"set", "", "change settings",
         "Give at least one option; a value outside its range is brought to the nearer end and the "
         "reply says so.",
         setOptions(), "lumenor set --remote-interval 30", true},
        {"show", "", "open the panel", "", {}, "lumenor show", true},
        {
            "setup",
            "",
            "install the scheduled-wake helper (asks for an administrator once)",
            "Lid-closed mode needs no setup; waking on a schedule needs a small root helper.",
            printScriptOptions,
            "lumenor setup",
            true,
        },
        {
            "uninstall-helper",
            "",
            "remove what setup installed",
            "",
            printScriptOptions,
            "lumenor uninstall-helper",
        },
        {"ping", "", "check that Lumenor answers", "", {}, "lumenor ping"},
        {"mcp",
         "",
         "serve coding agents the Model Context Protocol on standard input and output",
         "Tools: keep_awake, allow_sleep, status, list_holds, list_inhibitors, sleep. Holds taken "
         "through it end when the agent that started it exits. Register it with the agent once.",
         {},
         "claude mcp add lumenor -- lumenor mcp",
         true},
        {
            "help",
            "[COMMAND]",
            "print help for all commands or for one",
            "",
            {},
            "lumenor help run",
        },
    }};
    return shapes;
}

} // namespace

std::span<const CommandShape> commands() {
    return table();
}

std::span<const OptionShape> globalOptions() {
    return globals;
}

const CommandShape* findCommand(std::string_view word) {
    const auto all = commands();
    auto found = std::find_if(all.begin(), all.end(),
                              [&](const CommandShape& shape) { return shape.word == word; });
    return found == all.end() ? nullptr : &*found;
}

const OptionShape* findOption(const CommandShape& command, std::string_view name) {
    auto found = std::find_if(command.options.begin(), command.options.end(),
                              [&](const OptionShape& shape) { return shape.name == name; });
    return found == command.options.end() ? nullptr : &*found;
}

bool takesValue(Kind kind) {
    return kind != Kind::toggle && kind != Kind::afterTask && kind != Kind::cancel;
}

} // namespace CommandLine
