#include "LumenorCore/ProcessTree.h"

#include "LumenorCore/Utf8.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <fcntl.h>
#include <span>
#include <sys/syscall.h>
#include <unistd.h>

namespace ProcessTree {
namespace {

std::string procFile(std::int32_t pid, const char* name) {
    return "/proc/" + std::to_string(pid) + "/" + name;
}

// The whole file, or none when it cannot be opened or read to the end (the process may have
// gone away in between).
std::optional<std::string> readWhole(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    std::string content;
    char chunk[4096];
    for (;;) {
        const ssize_t count = ::read(fd, chunk, sizeof chunk);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0) {
            ::close(fd);
            return count == 0 ? std::optional(content) : std::nullopt;
        }
        content.append(chunk, static_cast<std::size_t>(count));
    }
}

std::string lowercased(std::string_view text) {
    std::string result(text);
    for (char& c : result)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return result;
}

// The last path component, trailing slashes ignored ("/usr/bin/copilot/" is "copilot").
std::string_view lastPathComponent(std::string_view path) {
    while (path.size() > 1 && path.back() == '/')
        path.remove_suffix(1);
    if (path == "/")
        return path;
    const std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// How each agent's command line says "one prompt, then exit". A session flag wins over a
// one-shot flag (a server handed a prompt still lives on).
struct AgentShape {
    std::string_view program;    // the executable's name, lower case; also "program-…" builds
    std::string_view name;       // for people
    std::string_view subcommand; // one-shot when given as an argument; empty: none
    std::array<std::string_view, 4> oneShotFlags; // also as "--flag=value"
    std::array<std::string_view, 2> sessionFlags;
};

constexpr std::array<AgentShape, 5> agents{{
    {"copilot", "Copilot CLI", "", {"-p", "--prompt"}, {"--server", "--acp"}},
    {"claude", "Claude Code", "", {"-p", "--print"}, {}},
    {"codex", "Codex", "exec", {}, {}},
    {"gemini", "Gemini CLI", "", {"-p", "--prompt"}, {}},
    {"aider", "Aider", "", {"--message", "-m", "--msg", "--message-file"}, {}},
}};

// Interpreters that run an agent's script named as their first argument.
bool isInterpreter(std::string_view name) {
    return name == "node" || name == "bun" || name == "deno" || name.starts_with("python");
}

bool hasFlag(std::span<const std::string> arguments, std::span<const std::string_view> flags) {
    return std::any_of(arguments.begin(), arguments.end(), [&](const std::string& argument) {
        return std::any_of(flags.begin(), flags.end(), [&](std::string_view flag) {
            return !flag.empty() &&
                   (argument == flag ||
                    (flag.starts_with("--") && argument.starts_with(flag) &&
                     argument.size() > flag.size() && argument[flag.size()] == '='));
        });
    });
}

// The agent whose program is `name`, or whose script an interpreter runs.
const AgentShape* agentShape(const std::vector<std::string>& arguments, std::size_t& first) {
    const std::string name = lowercased(lastPathComponent(arguments.front()));
    for (const AgentShape& agent : agents) {
        if (name == agent.program ||
            (name.starts_with(agent.program) && name.size() > agent.program.size() &&
             name[agent.program.size()] == '-')) {
            first = 1;
            return &agent;
        }
    }
    if (!isInterpreter(name) || arguments.size() < 2)
        return nullptr;
    const std::string script = lowercased(arguments[1]);
    for (const AgentShape& agent : agents) {
        if (script.find(agent.program) != std::string::npos) {
            first = 2;
            return &agent;
        }
    }
    return nullptr;
}

} // namespace

bool isAlive(std::int32_t pid) {
    // kill(0) and kill(-1) address whole groups of processes, never one.
    if (pid < 1)
        return false;
    return ::kill(pid, 0) == 0 || errno == EPERM;
}

std::optional<std::int32_t> parentPID(std::int32_t pid) {
    if (pid < 1)
        return std::nullopt;
    const auto stat = readWhole(procFile(pid, "stat"));
    return stat ? parentFromStat(*stat) : std::nullopt;
}

std::optional<std::vector<std::string>> arguments(std::int32_t pid) {
    if (pid < 1)
        return std::nullopt;
    const auto area = readWhole(procFile(pid, "cmdline"));
    if (!area)
        return std::nullopt;
    return splitArgumentArea(*area);
}

// The command name in /proc/<pid>/stat is in parentheses and may itself hold spaces and
// parentheses, so the fields are read after the last ")": state, then parent pid.
std::optional<std::int32_t> parentFromStat(std::string_view stat) {
    const std::size_t close = stat.rfind(')');
    if (close == std::string_view::npos)
        return std::nullopt;
    std::string_view rest = stat.substr(close + 1);
    auto skipSpaces = [&rest] {
        rest.remove_prefix(std::min(rest.find_first_not_of(' '), rest.size()));
    };
    skipSpaces();
    if (rest.empty())
        return std::nullopt;
    rest.remove_prefix(1); // the state letter
    skipSpaces();
    std::int32_t parent = 0;
    const auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), parent);
    if (error != std::errc() || end == rest.data())
        return std::nullopt;
    return parent;
}

std::vector<std::string> splitArgumentArea(std::string_view area) {
    std::vector<std::string> result;
    while (!area.empty()) {
        const std::size_t end = std::min(area.find('\0'), area.size());
        result.push_back(Utf8::sanitized(area.substr(0, end)));
        area.remove_prefix(std::min(end + 1, area.size()));
    }
    return result;
}

std::optional<AgentRun> classifyAgent(const std::vector<std::string>& arguments) {
    std::size_t first = 0;
    const AgentShape* agent = arguments.empty() ? nullptr : agentShape(arguments, first);
    if (agent == nullptr)
        return std::nullopt;
    const std::span<const std::string> rest(arguments.begin() + first, arguments.end());
    const bool oneShot = !hasFlag(rest, agent->sessionFlags) &&
                         (hasFlag(rest, agent->oneShotFlags) ||
                          (!agent->subcommand.empty() &&
                           std::find(rest.begin(), rest.end(), agent->subcommand) != rest.end()));
    return AgentRun{std::string(agent->name), oneShot};
}

std::optional<AgentAncestor> agentAncestor(std::int32_t startingAt, int maxDepth) {
    std::int32_t current = startingAt;
    for (int examined = 1; examined <= maxDepth; ++examined) {
        if (current < 2)
            return std::nullopt;
        if (const auto args = arguments(current)) {
            if (auto run = classifyAgent(*args))
                return AgentAncestor{current, run->isOneShot, std::move(run->name)};
        }
        const auto parent = parentPID(current);
        if (!parent || *parent == current)
            return std::nullopt;
        current = *parent;
    }
    return std::nullopt;
}

int openPidfd(std::int32_t pid) {
#ifdef SYS_pidfd_open
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
#else
    (void)pid;
    errno = ENOSYS;
    return -1;
#endif
}

} // namespace ProcessTree
