#include "LumenorCore/ProcessTree.h"
#include "ShellSandbox.h"

#include <gtest/gtest.h>

#include <climits>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

using Arguments = std::vector<std::string>;
using ProcessTree::AgentAncestor;

namespace {

// A child in a process group of its own; the whole group is killed and the child reaped at the
// end, so nothing outlives the test.
struct Child {
    Child(const std::filesystem::path& program, const Arguments& arguments) {
        std::vector<char*> argv;
        for (const auto& argument : arguments)
            argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
        if (posix_spawn(&pid, program.c_str(), nullptr, &attributes, argv.data(), environ) != 0)
            pid = -1;
        posix_spawnattr_destroy(&attributes);
    }
    ~Child() { stop(); }
    void stop() {
        if (pid > 0) {
            ::kill(-pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        pid = -1;
    }
    pid_t pid = -1;
};

// Polls for something a child produces while it starts up.
template <typename Read> auto eventually(Read read) {
    auto value = read();
    for (int attempt = 0; attempt < 2000 && !value; ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        value = read();
    }
    return value;
}

Arguments words(const std::string& text) {
    std::istringstream in(text);
    return {std::istream_iterator<std::string>(in), {}};
}

} // namespace

TEST(ProcessTreeTest, ReadsARunningChildAndTellsGoneAndInvalidPidsApart) {
    const auto seen = [](std::int32_t pid) {
        return std::tuple(ProcessTree::isAlive(pid), ProcessTree::parentPID(pid),
                          ProcessTree::arguments(pid));
    };
    // The process table names it after this link, parentheses and spaces included.
    TemporaryFolder folder;
    const auto oddName = folder.path() / "x) 1 2 (y";
    std::filesystem::create_symlink("/bin/sh", oddName);
    Child child(oddName, {"sh", "-c", "sleep 30; exit", "", "a\xff-z", "gr\xc3\xbc\xc3\x9f"});
    ASSERT_GT(child.pid, 0);
    // Until the kernel has set up the new program its argument area reads as empty.
    eventually([&] { return !ProcessTree::arguments(child.pid).value_or(Arguments{}).empty(); });
    EXPECT_EQ(seen(child.pid), std::tuple(true, std::optional(::getpid()),
                                          std::optional(Arguments{"sh", "-c", "sleep 30; exit", "",
                                                                  "a\uFFFD-z", "grüß"})));

    // A zombie still exists but has no argument area left.
    ::kill(child.pid, SIGKILL);
    siginfo_t info{};
    ASSERT_EQ(::waitid(P_PID, child.pid, &info, WEXITED | WNOWAIT), 0);
    EXPECT_EQ(seen(child.pid),
              std::tuple(true, std::optional(::getpid()), std::optional(Arguments{})));
    const pid_t reaped = child.pid;
    child.stop();
    // Signal 0 to pid 0 or -1 would reach whole groups and succeed.
    for (const std::int32_t pid : {reaped, 0, -1, INT_MIN})
        EXPECT_EQ(seen(pid), std::tuple(false, std::nullopt, std::nullopt)) << pid;
}

TEST(ProcessTreeTest, SplitsArgumentAreasAndClassifiesAgentRuns) {
    using namespace std::string_view_literals;
    EXPECT_EQ(ProcessTree::splitArgumentArea("a\0\0b\0"sv), (Arguments{"a", "", "b"}));
    // A title written over the whole area may lack its final NUL.
    EXPECT_EQ(ProcessTree::splitArgumentArea("worker: idle"), Arguments{"worker: idle"});

    const auto copilot = [](bool oneShot) { return ProcessTree::AgentRun{"Copilot CLI", oneShot}; };
    const std::optional<ProcessTree::AgentRun> none;
    const std::pair<const char*, std::optional<ProcessTree::AgentRun>> table[] = {
        {"/usr/local/bin/copilot -p fix", copilot(true)},
        {"copilot", copilot(false)},
        {"copilot -p x --server", copilot(false)},
        {"copilot --prompt=x", copilot(true)},
        {"copilot --prompts", copilot(false)},
        {"node /opt/lib/copilot/index.js --prompt=x", copilot(true)},
        {"/usr/bin/Copilot-Nightly -p x", copilot(true)},
        {"node /usr/lib/node_modules/@x/claude-code/cli.js",
         ProcessTree::AgentRun{"Claude Code", false}},
        {"codex exec fix", ProcessTree::AgentRun{"Codex", true}},
        {"python3 /usr/bin/aider --message fix", ProcessTree::AgentRun{"Aider", true}},
        {"node server.js copilot", none},
        {"/opt/copilot/bin/node", none},
        {"copilotx -p", none},
        {"/bin/sh copilot -p", none},
        {"", none}};
    for (const auto& [commandLine, expected] : table)
        EXPECT_EQ(ProcessTree::classifyAgent(words(commandLine)), expected) << commandLine;
}

// A stand-in agent named "copilot" (the shell under that name) runs a task file whose shell
// starts a sleep: agent → task shell → sleep.
TEST(ProcessTreeTest, FindsTheAgentAboveATask) {
    TemporaryFolder folder;
    const auto agent = folder.path() / "copilot";
    const auto task = folder.path() / "task";
    const auto pidFile = folder.path() / "sleep.pid";
    std::filesystem::create_symlink("/bin/sh", agent);
    // The sleep's pid arrives in one piece: written aside, then renamed into place.
    std::ofstream(task) << "sh -c 'sleep 30 & echo $! > \"$1.tmp\" && mv \"$1.tmp\" \"$1\"; wait' "
                        << "task '" << pidFile.string() << "'\nexit\n";

    const Arguments arguments{agent, "-p", task};
    Child run(agent, arguments);
    ASSERT_GT(run.pid, 0);
    const auto sleeper = eventually([&] {
        pid_t pid = 0;
        return std::ifstream(pidFile) >> pid ? std::optional(pid) : std::nullopt;
    });
    ASSERT_TRUE(sleeper.has_value());

    const AgentAncestor expected{run.pid, true, "Copilot CLI"};
    EXPECT_EQ(ProcessTree::agentAncestor(*sleeper, 3), expected);
    EXPECT_EQ(ProcessTree::agentAncestor(*sleeper, 2), std::nullopt);
    EXPECT_EQ(ProcessTree::agentAncestor(run.pid, 1), expected);
}
