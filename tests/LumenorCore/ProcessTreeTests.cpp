#include "LumenorCore/ProcessTree.h"

#include <gtest/gtest.h>

#include <climits>
#include <csignal>
#include <filesystem>
#include <fstream>
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
class Child {
public:
    Child(const std::filesystem::path& program, const Arguments& arguments) {
        std::vector<char*> argv;
        for (const auto& argument : arguments)
            argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
        if (posix_spawn(&pid_, program.c_str(), nullptr, &attributes, argv.data(), environ) != 0)
            pid_ = -1;
        posix_spawnattr_destroy(&attributes);
    }
    ~Child() { stop(); }
    pid_t pid() const { return pid_; }
    void stop() {
        if (pid_ > 0) {
            ::kill(-pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
};

struct TemporaryFolder {
    TemporaryFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "lumenor-XXXXXX").string();
        path = ::mkdtemp(pattern.data());
    }
    ~TemporaryFolder() { std::filesystem::remove_all(path); }
    std::filesystem::path path;
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
    Arguments result;
    for (std::string word; in >> word;)
        result.push_back(word);
    return result;
}

} // namespace

TEST(ProcessTreeTest, ReadsArgumentsAndParentOfARunningChild) {
    // The process table names it after this link, parentheses and spaces included.
    TemporaryFolder folder;
    const auto oddName = folder.path / "x) 1 2 (y";
    std::filesystem::create_symlink("/bin/sh", oddName);
    Child child(oddName, {"sh", "-c", "sleep 30; exit", "", "a\xff-z", "gr\xc3\xbc\xc3\x9f"});
    ASSERT_GT(child.pid(), 0);
    EXPECT_TRUE(ProcessTree::isAlive(child.pid()));
    // Until the kernel has set up the new program its argument area reads as empty.
    const auto arguments = eventually([&]() -> std::optional<Arguments> {
        auto read = ProcessTree::arguments(child.pid());
        return read && !read->empty() ? read : std::nullopt;
    });
    EXPECT_EQ(arguments, (Arguments{"sh", "-c", "sleep 30; exit", "", "a\uFFFD-z", "grüß"}));
    EXPECT_EQ(ProcessTree::parentPID(child.pid()), ::getpid());
    EXPECT_EQ(ProcessTree::parentPID(::getpid()), ::getppid());
}

TEST(ProcessTreeTest, TellsGoneAndInvalidPidsApart) {
    // Signal 0 to pid 0 or -1 would reach whole groups and succeed.
    for (const std::int32_t pid : {0, -1, INT_MIN}) {
        EXPECT_FALSE(ProcessTree::isAlive(pid));
        EXPECT_EQ(ProcessTree::parentPID(pid), std::nullopt);
        EXPECT_EQ(ProcessTree::arguments(pid), std::nullopt);
    }
    Child exited("/bin/true", {"true"});
    ASSERT_GT(exited.pid(), 0);
    siginfo_t info{};
    ASSERT_EQ(::waitid(P_PID, exited.pid(), &info, WEXITED | WNOWAIT), 0);
    // A zombie still exists but has no argument area left.
    EXPECT_TRUE(ProcessTree::isAlive(exited.pid()));
    EXPECT_EQ(ProcessTree::arguments(exited.pid()), Arguments{});
    EXPECT_EQ(ProcessTree::parentPID(exited.pid()), ::getpid());

    const pid_t reaped = exited.pid();
    exited.stop();
    EXPECT_FALSE(ProcessTree::isAlive(reaped));
    EXPECT_EQ(ProcessTree::arguments(reaped), std::nullopt);
    EXPECT_EQ(ProcessTree::parentPID(reaped), std::nullopt);
}

TEST(ProcessTreeTest, SplitsArgumentAreasAndClassifiesAgentRuns) {
    using namespace std::string_view_literals;
    EXPECT_EQ(ProcessTree::splitArgumentArea(""), Arguments{});
    EXPECT_EQ(ProcessTree::splitArgumentArea("a\0\0b\0"sv), (Arguments{"a", "", "b"}));
    // A title written over the whole area may lack its final NUL.
    EXPECT_EQ(ProcessTree::splitArgumentArea("worker: idle"), Arguments{"worker: idle"});

    const auto copilot = [](bool oneShot) { return ProcessTree::AgentRun{"Copilot CLI", oneShot}; };
    const std::optional<ProcessTree::AgentRun> none;
    const std::pair<const char*, std::optional<ProcessTree::AgentRun>> table[] = {
        {"/usr/local/bin/copilot -p fix", copilot(true)},
        {"copilot", copilot(false)},
        {"copilot --acp -p x", copilot(false)},
        {"copilot -p x --server", copilot(false)},
        {"copilot --prompt=x", copilot(true)},
        {"copilot --prompts", copilot(false)},
        {"node /opt/lib/copilot/index.js --prompt=x", copilot(true)},
        {"/usr/bin/Copilot-Nightly -p x", copilot(true)},
        {"claude -p fix", ProcessTree::AgentRun{"Claude Code", true}},
        {"node /usr/lib/node_modules/@x/claude-code/cli.js",
         ProcessTree::AgentRun{"Claude Code", false}},
        {"codex exec fix", ProcessTree::AgentRun{"Codex", true}},
        {"codex", ProcessTree::AgentRun{"Codex", false}},
        {"gemini --prompt=fix", ProcessTree::AgentRun{"Gemini CLI", true}},
        {"python3 /usr/bin/aider --message fix", ProcessTree::AgentRun{"Aider", true}},
        {"aider", ProcessTree::AgentRun{"Aider", false}},
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
    const auto agent = folder.path / "copilot";
    const auto task = folder.path / "task";
    const auto pidFile = folder.path / "sleep.pid";
    std::filesystem::create_symlink("/bin/sh", agent);
    // The sleep's pid arrives in one piece: written aside, then renamed into place.
    std::ofstream(task) << "sh -c 'sleep 30 & echo $! > \"$1.tmp\" && mv \"$1.tmp\" \"$1\"; wait' "
                        << "task '" << pidFile.string() << "'\nexit\n";

    for (const bool withPrompt : {true, false}) {
        std::filesystem::remove(pidFile);
        const Arguments arguments =
            withPrompt ? Arguments{agent, "-p", task} : Arguments{agent, task};
        Child run(agent, arguments);
        ASSERT_GT(run.pid(), 0);
        const auto sleeper = eventually([&] {
            pid_t pid = 0;
            return std::ifstream(pidFile) >> pid ? std::optional(pid) : std::nullopt;
        });
        ASSERT_TRUE(sleeper.has_value());
        EXPECT_EQ(ProcessTree::arguments(run.pid()), arguments);

        const AgentAncestor expected{run.pid(), withPrompt, "Copilot CLI"};
        EXPECT_EQ(ProcessTree::agentAncestor(*sleeper, 3), expected);
        EXPECT_EQ(ProcessTree::agentAncestor(*sleeper, 2), std::nullopt);
        EXPECT_EQ(ProcessTree::agentAncestor(run.pid(), 1), expected);
        EXPECT_EQ(ProcessTree::agentAncestor(run.pid(), 0), std::nullopt);
        EXPECT_EQ(ProcessTree::agentAncestor(run.pid(), -1), std::nullopt);
    }
}
