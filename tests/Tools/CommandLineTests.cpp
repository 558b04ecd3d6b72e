#include "Tools/lumenor/CommandLine.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

using CommandLine::Invocation;
using Arguments = std::vector<std::string>;
using namespace ::testing;

namespace {

const CommandLine::AgentLookup noAgent = [] { return std::optional<ProcessTree::AgentAncestor>(); };

std::string rejected(const Arguments& arguments, const CommandLine::AgentLookup& lookup = noAgent) {
    const auto result = CommandLine::parse(arguments, lookup);
    const auto* error = std::get_if<CommandLine::UsageError>(&result);
    return error ? error->message : "(accepted)";
}

Invocation accepted(const Arguments& arguments, const CommandLine::AgentLookup& lookup = noAgent) {
    const auto result = CommandLine::parse(arguments, lookup);
    EXPECT_TRUE(std::holds_alternative<Invocation>(result)) << rejected(arguments, lookup);
    return std::holds_alternative<Invocation>(result) ? std::get<Invocation>(result) : Invocation{};
}

// An accepted invocation whole, in one line: the action, then for send and run the request and
// its options, then whichever other fields are set.
std::string shown(const Arguments& arguments) {
    const Invocation run = accepted(arguments);
    static const char* const actions[] = {"send", "help", "version", "run", "generate", "mcp"};
    std::string text = actions[int(run.action)];
    if (run.action == Invocation::Action::send || run.action == Invocation::Action::run)
        text += " " + run.request.command;
    for (const auto& [name, value] : run.request.options)
        text += " " + name + "=" + value;
    for (const auto& word : run.program)
        text += " [" + word + "]";
    return text + (run.json ? " json" : "") + (run.topic.empty() ? "" : " topic=" + run.topic) +
           (run.note.empty() ? "" : " note") + (run.generate.empty() ? "" : " " + run.generate);
}

} // namespace

TEST(CommandLine, OptionsTravelUnderTheProtocolsNamesInBothSpellingsAndHelpIsAskedForAnyway) {
    const std::pair<Arguments, const char*> cases[] = {
        {{"on", "--for", "30m", "--lid=off", "--display", "on"},
         "send on display=on for=30m lid=off"},
        {{"set", "--remote-wake", "yes", "--remote-interval=30", "--low-battery-stop", "FALSE",
          "--min-battery", "0"},
         "send set low_battery_stop=off min_battery=0 remote_interval=30 remote_wake=on"},
        {{"sleep", "--in", "5m", "--after-pid", "311", "--now"},
         "send sleep after_pid=311 in=5m now=1"},
        {{"hold", "--for=2h", "task-9"}, "send hold for=2h id=task-9"},
        // A value is taken as typed, even one that looks like a switch; "help" may name a hold.
        {{"on", "--pid", "7", "--label", "-h"}, "send on label=-h pid=7"},
        {{"hold", "help"}, "send hold id=help"},
        {{}, "send status"},
        {{"release", "x", "--json"}, "send release id=x json"},
        {{"-V"}, "version"},
        {{"sleep", "--cancel"}, "send cancel-sleep"},
        // run: options before the command, everything after it belongs to the command.
        {{"run", "--label", "build", "--display", "--", "make", "--json"},
         "run hold display=1 label=build [make] [--json]"},
        {{"run", "sh", "-c", "exit 7"}, "run hold [sh] [-c] [exit 7]"},
        {{"help", "on"}, "help topic=on"},
        {{"on", "--for", "1h", "-h"}, "help topic=on"},
        {{"--help"}, "help"}};
    for (const auto& [arguments, expected] : cases)
        EXPECT_EQ(shown(arguments), expected);

    EXPECT_THAT(CommandLine::commandHelp("on"),
                AllOf(StartsWith("Usage: lumenor on [OPTIONS]\n"),
                      HasSubstr("\n  --for DURATION        keep awake this long: 30m, 2h, 1h30m\n"),
                      HasSubstr("\nExample:\n  lumenor on --for 2h\n")));
    EXPECT_THAT(CommandLine::commandHelp("set"), HasSubstr("5 to 240"));
    EXPECT_EQ(CommandLine::commandHelp("nosuch"), "");

    // A usage error remembers --json and --color given anywhere before `--`.
    const auto result = CommandLine::parse({"stauts", "--json", "--color", "never"}, noAgent);
    const auto& error = std::get<CommandLine::UsageError>(result);
    EXPECT_TRUE(error.json);
    EXPECT_EQ(error.color, CommandLine::ColorChoice::never);
}

TEST(CommandLine, MistypedArgumentsAreUsageErrorsBeforeAnythingIsSent) {
    // The app reads unknown words as "off" and skips unreadable numbers, so these must stop here.
    const std::vector<std::pair<Arguments, std::string>> cases{
        {{"stauts"}, "unknown command “stauts”; did you mean “status”?"},
        {{"frobnicate"}, "unknown command “frobnicate”"},
        {{"help", "relase"}, "no help for “relase”; did you mean “release”?"},
        {{"status", "--for", "30m"}, "unknown option --for for status"},
        {{"on", "--untill", "6pm"}, "unknown option --untill for on; did you mean “--until”?"},
        {{"--jsn"}, "unknown option --jsn; did you mean “--json”?"},
        {{"-v"}, "unknown option -v; did you mean “-V”?"},
        {{"set"}, "set needs at least one setting to change, such as --lid off"},
        {{"sleep", "--cancel", "--in", "5m"}, "--cancel takes no other options"},
        {{"run", "--label", "x"}, "run needs a command to run: lumenor run -- COMMAND [ARGUMENT…]"},
        {{"--color=sometimes"}, "--color takes auto, always or never, not “sometimes”"},
        {{"--for", "30m", "on"}, "put the command before --for"},
        {{"on", "--for", "--lid", "on"}, "--for needs a value"},
        {{"hold", "x", "--for", "1h", "--for=2h"}, "--for is given twice"},
        {{"ping", "extra"}, "unexpected argument “extra”"},
        {{"hold"}, "hold needs an ID, such as the task's id"},
        {{"release", ""}, "release needs a non-empty ID"},
        {{"on", "--label", "\xc3"}, "--label takes text in UTF-8"},
        {{"set", "--lid", "onn"}, "--lid takes on or off, not “onn”"},
        {{"sleep", "--after-pid", "0"}, "--after-pid takes a process id, not “0”"},
        {{"set", "--min-battery", "-5"}, "--min-battery takes a whole number, not “-5”"},
        {{"set", "--remote-interval", "99999999999"},
         "--remote-interval takes a whole number, not “99999999999”"},
        {{"on", "--for", "1h", "--until", "18:30"},
         "on takes one of --for, --until, --pid, --app, --file"},
        {{"on", "--for", "1h", "--label", "build"}, "--label goes with --pid"},
    };
    for (const auto& [arguments, message] : cases)
        EXPECT_EQ(rejected(arguments), message) << arguments[0];
}

TEST(CommandLine, AfterTaskWaitsForAOneShotAgentRunOnly) {
    int lookups = 0;
    const auto oneShot = [&] {
        ++lookups;
        return std::optional(ProcessTree::AgentAncestor{.pid = 4242, .isOneShot = true});
    };
    const auto session = [] {
        return std::optional(
            ProcessTree::AgentAncestor{.pid = 77, .isOneShot = false, .name = "Codex"});
    };
    accepted({"sleep", "--in", "5m"}, oneShot);
    EXPECT_EQ(lookups, 0) << "the process table is read only when --after-task asks for it";

    EXPECT_EQ(accepted({"sleep", "--after-task"}, oneShot).request,
              (LumenorRequest{"sleep", {{"after_pid", "4242"}, {"by", "Copilot CLI"}}}));
    // A session outlives the task: waiting for it would keep the machine up indefinitely.
    const Invocation sessionRun = accepted({"sleep", "--after-task"}, session);
    EXPECT_EQ(sessionRun.request, (LumenorRequest{"sleep", {{"by", "Codex"}}}));
    EXPECT_THAT(sessionRun.note, HasSubstr("The Codex session (pid 77)"));

    EXPECT_THAT(rejected({"sleep", "--after-task"}), HasSubstr("found no coding-agent task"));
    EXPECT_EQ(rejected({"sleep", "--after-task", "--after-pid", "5"}, oneShot),
              "use either --after-pid or --after-task");
    EXPECT_EQ(rejected({"sleep", "--after-task=yes"}, oneShot), "--after-task takes no value");
}

// Only what asks for something starts the app; a cancelled sleep asks for nothing.
TEST(CommandLine, OnlyCommandsThatAskForSomethingMayStartTheApp) {
    const std::pair<Arguments, bool> cases[] = {
        {{"on", "--for", "1m"}, true},
        {{"sleep", "--in", "5m"}, true},
        {{}, false},
        {{"off"}, false},
        {{"sleep", "--cancel"}, false},
        {{"on", "--no-start"}, false},
        {{"--no-start", "hold", "x"}, false},
    };
    for (const auto& [arguments, starts] : cases)
        EXPECT_EQ(accepted(arguments).mayStart, starts) << ::testing::PrintToString(arguments);
    EXPECT_EQ(shown({"mcp", "--no-start"}), "mcp");
}
