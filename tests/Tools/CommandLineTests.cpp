#include "Tools/lumenor/CommandLine.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

using CommandLine::Invocation;
using Options = std::map<std::string, std::string>;

// Readable failures: a request prints as its command and options.
void PrintTo(const LumenorRequest& request, std::ostream* out) {
    *out << request.command;
    for (const auto& [key, value] : request.options) {
        *out << " " << key << "=" << value;
    }
}

namespace {

CommandLine::AgentLookup noAgent = [] { return std::optional<ProcessTree::CopilotAncestor>(); };

Invocation accepted(const std::vector<std::string>& arguments,
                    const CommandLine::AgentLookup& lookup = noAgent) {
    auto result = CommandLine::parse(arguments, lookup);
    if (auto* error = std::get_if<CommandLine::UsageError>(&result)) {
        ADD_FAILURE() << "rejected: " << error->message;
        return {};
    }
    return std::get<Invocation>(result);
}

std::string rejected(const std::vector<std::string>& arguments,
                     const CommandLine::AgentLookup& lookup = noAgent) {
    auto result = CommandLine::parse(arguments, lookup);
    if (auto* error = std::get_if<CommandLine::UsageError>(&result)) {
        return error->message;
    }
    ADD_FAILURE() << "accepted: " << std::get<Invocation>(result).request.command;
    return {};
}

LumenorRequest request(const std::vector<std::string>& arguments) {
    return accepted(arguments).request;
}

} // namespace

TEST(CommandLine, OptionsTravelUnderTheProtocolsNamesInBothSpellings) {
    EXPECT_EQ(request({"on", "--for", "30m", "--lid=off", "--display", "on"}),
              (LumenorRequest{"on", {{"for", "30m"}, {"lid", "off"}, {"display", "on"}}}));
    EXPECT_EQ(request({"on", "--pid=42", "--label", "build -j8"}),
              (LumenorRequest{"on", {{"pid", "42"}, {"label", "build -j8"}}}));
    EXPECT_EQ(request({"set", "--remote-wake", "yes", "--remote-interval=30", "--low-battery-stop",
                       "FALSE", "--min-battery", "15"}),
              (LumenorRequest{"set",
                              {{"remote_wake", "on"},
                               {"remote_interval", "30"},
                               {"low_battery_stop", "off"},
                               {"min_battery", "15"}}}));
    EXPECT_EQ(request({"sleep", "--in", "5m", "--after-pid", "311", "--by", "nightly"}),
              (LumenorRequest{"sleep", {{"in", "5m"}, {"after_pid", "311"}, {"by", "nightly"}}}));
    EXPECT_EQ(request({"sleep", "--now"}), (LumenorRequest{"sleep", {{"now", "1"}}}));
    EXPECT_EQ(request({"sleep", "--now=no"}), (LumenorRequest{"sleep", {{"now", "0"}}}));
    // A value is taken as typed, even one that looks like a short switch or is empty.
    EXPECT_EQ(request({"on", "--pid", "7", "--label", "-h"}).options.at("label"), "-h");
    EXPECT_EQ(request({"on", "--pid", "7", "--label=--x"}).options.at("label"), "--x");
    EXPECT_EQ(request({"on", "--for="}).options.at("for"), "");
    EXPECT_EQ(request({"on"}), (LumenorRequest{"on", {}}));
}

TEST(CommandLine, HoldAndReleaseTakeTheirIdAsAWord) {
    EXPECT_EQ(request({"hold", "task-9", "--for", "2h"}),
              (LumenorRequest{"hold", {{"id", "task-9"}, {"for", "2h"}}}));
    EXPECT_EQ(request({"hold", "--for=2h", "task-9"}),
              (LumenorRequest{"hold", {{"id", "task-9"}, {"for", "2h"}}}));
    EXPECT_EQ(request({"release", "task-9"}), (LumenorRequest{"release", {{"id", "task-9"}}}));

    EXPECT_EQ(rejected({"hold"}), "hold needs an ID, such as the task's id");
    EXPECT_EQ(rejected({"release", "--json"}), "release needs an ID, such as the task's id");
    EXPECT_EQ(rejected({"release", ""}), "release needs a non-empty ID");
    EXPECT_EQ(rejected({"hold", "a", "b"}), "unexpected argument “b”");
    EXPECT_EQ(rejected({"release", "a", "--for", "1h"}), "unknown option --for for release");
    EXPECT_EQ(rejected({"hold", "\xff\xfe"}), "the ID must be UTF-8 text");
}

TEST(CommandLine, MistypedArgumentsAreUsageErrorsBeforeAnythingIsSent) {
    EXPECT_EQ(rejected({"stauts"}), "unknown command “stauts”");
    EXPECT_EQ(rejected({"status", "--for", "30m"}), "unknown option --for for status");
    EXPECT_EQ(rejected({"on", "--fro=30m"}), "unknown option --fro for on");
    EXPECT_EQ(rejected({"on", "-f", "30m"}), "unknown option -f for on");
    EXPECT_EQ(rejected({"--for", "30m", "on"}), "put the command before --for");
    EXPECT_EQ(rejected({"on", "--for"}), "--for needs a value");
    EXPECT_EQ(rejected({"on", "--for", "--lid", "on"}), "--for needs a value");
    EXPECT_EQ(rejected({"hold", "x", "--for", "1h", "--for=2h"}), "--for is given twice");
    EXPECT_EQ(rejected({"ping", "extra"}), "unexpected argument “extra”");
    EXPECT_EQ(rejected({"on", "--label", "\xc3"}), "--label takes text in UTF-8");
}

TEST(CommandLine, ValuesTheAppWouldMisreadAreRefused) {
    // The app reads any unknown word as "off" and ignores numbers it cannot read, replying
    // with success; a typo must not switch a setting off or drop a condition silently.
    EXPECT_EQ(rejected({"set", "--lid", "onn"}), "--lid takes on or off, not “onn”");
    EXPECT_EQ(rejected({"on", "--display="}), "--display takes on or off, not “”");
    EXPECT_EQ(rejected({"sleep", "--now=soon"}), "--now takes on or off, not “soon”");
    EXPECT_EQ(rejected({"sleep", "--after-pid", "abc"}),
              "--after-pid takes a process id, not “abc”");
    EXPECT_EQ(rejected({"sleep", "--after-pid", "0"}), "--after-pid takes a process id, not “0”");
    EXPECT_EQ(rejected({"on", "--pid", "12x"}), "--pid takes a process id, not “12x”");
    EXPECT_EQ(rejected({"set", "--min-battery", "-5"}),
              "--min-battery takes a whole number, not “-5”");
    EXPECT_EQ(rejected({"set", "--remote-interval", "99999999999"}),
              "--remote-interval takes a whole number, not “99999999999”");
    EXPECT_EQ(request({"set", "--min-battery", "0"}).options.at("min_battery"), "0");
}

TEST(CommandLine, OnTakesOneConditionAndALabelOnlyForAProcess) {
    EXPECT_EQ(rejected({"on", "--for", "1h", "--until", "18:30"}),
              "on takes one of --for, --until, --pid, --app, --file");
    EXPECT_EQ(rejected({"on", "--app", "Firefox", "--file", "~/x.iso"}),
              "on takes one of --for, --until, --pid, --app, --file");
    EXPECT_EQ(rejected({"on", "--for", "1h", "--label", "build"}), "--label goes with --pid");
    EXPECT_EQ(request({"on", "--file", "~/x.iso", "--lid", "on"}),
              (LumenorRequest{"on", {{"file", "~/x.iso"}, {"lid", "on"}}}));
}

TEST(CommandLine, AfterTaskWaitsForAOneShotAgentRunOnly) {
    int lookups = 0;
    auto oneShot = [&] {
        ++lookups;
        return std::optional(ProcessTree::CopilotAncestor{.pid = 4242, .isOneShot = true});
    };
    auto session = [] {
        return std::optional(ProcessTree::CopilotAncestor{.pid = 77, .isOneShot = false});
    };

    EXPECT_EQ(accepted({"sleep", "--in", "5m"}, oneShot).request.options.count("after_pid"), 0u);
    EXPECT_EQ(lookups, 0) << "the process table is read only when --after-task asks for it";

    Invocation oneShotRun = accepted({"sleep", "--after-task"}, oneShot);
    EXPECT_EQ(oneShotRun.request,
              (LumenorRequest{"sleep", {{"after_pid", "4242"}, {"by", "Copilot CLI"}}}));
    EXPECT_TRUE(oneShotRun.note.empty());
    EXPECT_EQ(accepted({"sleep", "--after-task", "--by", "me"}, oneShot).request.options.at("by"),
              "me");

    // A session outlives the task: waiting for it would keep the machine up indefinitely.
    Invocation sessionRun = accepted({"sleep", "--after-task"}, session);
    EXPECT_EQ(sessionRun.request, (LumenorRequest{"sleep", {{"by", "Copilot CLI"}}}));
    EXPECT_NE(sessionRun.note.find("pid 77"), std::string::npos) << sessionRun.note;

    EXPECT_NE(rejected({"sleep", "--after-task"}).find("found no Copilot CLI task"),
              std::string::npos);
    EXPECT_EQ(rejected({"sleep", "--after-task", "--after-pid", "5"}, oneShot),
              "use either --after-pid or --after-task");
    EXPECT_EQ(rejected({"sleep", "--after-task=yes"}, oneShot), "--after-task takes no value");
    EXPECT_EQ(rejected({"sleep", "--after-task", "--after-task"}, oneShot),
              "--after-task is given twice");
}

TEST(CommandLine, SwitchesWorkAnywhereAndNoCommandMeansStatus) {
    EXPECT_EQ(accepted({}).request, (LumenorRequest{"status", {}}));
    Invocation json = accepted({"--json"});
    EXPECT_TRUE(json.json);
    EXPECT_EQ(json.request.command, "status");
    Invocation late = accepted({"hold", "x", "--json"});
    EXPECT_TRUE(late.json);
    EXPECT_EQ(late.request, (LumenorRequest{"hold", {{"id", "x"}}}));

    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"help"}, {"-h"}, {"on", "--help"}, {"--json", "--help"}}) {
        EXPECT_EQ(accepted(arguments).action, Invocation::Action::help) << arguments[0];
    }
    EXPECT_EQ(accepted({"--version"}).action, Invocation::Action::version);
    // After the command word, "help" is an ordinary argument: a hold may be called that.
    EXPECT_EQ(request({"hold", "help"}).options.at("id"), "help");
}
