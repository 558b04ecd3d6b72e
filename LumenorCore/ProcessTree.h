#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

/// Questions about other processes of the machine, answered from the process table. Anything
/// that cannot be told comes back as none (or as not alive); nothing throws.
namespace ProcessTree {

/// How one coding agent's command line reads.
struct AgentRun {
    /// The agent's name for people ("Copilot CLI").
    std::string name;
    /// True for a run of a single prompt that exits afterwards; false for a server, protocol or
    /// interactive session.
    bool isOneShot = false;

    bool operator==(const AgentRun&) const = default;
};

/// A coding-agent process found among a process's ancestors.
struct AgentAncestor {
    std::int32_t pid = 0;
    /// True for a run of a single prompt that exits afterwards; false for a session.
    bool isOneShot = false;
    /// The agent's name for people ("Copilot CLI").
    std::string name = "Copilot CLI";

    bool operator==(const AgentAncestor&) const = default;
};
/// The former name, kept for callers written before other agents were known.
using CopilotAncestor = AgentAncestor;

/// Whether `pid` exists, also when it belongs to another user; pids below 1 are never signalled.
bool isAlive(std::int32_t pid);

/// The pid of `pid`'s parent; none when the process cannot be read.
std::optional<std::int32_t> parentPID(std::int32_t pid);

/// The argument vector `pid` runs with, the program as started first, ill-formed UTF-8 replaced
/// by U+FFFD. Empty for a process that has none (a zombie, a kernel thread); none when the
/// process cannot be read.
std::optional<std::vector<std::string>> arguments(std::int32_t pid);

/// The parent pid field of the text of /proc/<pid>/stat; none when it cannot be read there.
std::optional<std::int32_t> parentFromStat(std::string_view stat);

/// Splits a process's argument area: strings ending in NUL, an empty one between two NULs
/// included. A trailing string without its NUL is kept too, since a process that rewrote its
/// arguments as one title may leave it unterminated.
std::vector<std::string> splitArgumentArea(std::string_view area);

/// None when `arguments` are not a run of a known coding agent (the Copilot CLI, Claude Code,
/// Codex, Gemini CLI, Aider); otherwise which one and whether it is a one-shot run.
std::optional<AgentRun> classifyAgent(const std::vector<std::string>& arguments);

/// The first coding-agent run among `startingAt` and its ancestors, looking at `maxDepth`
/// processes at most (1: only `startingAt`). The root of the tree (pid 1) is never examined.
std::optional<AgentAncestor> agentAncestor(std::int32_t startingAt, int maxDepth);

/// A descriptor that becomes readable when `pid` ends (pidfd_open); -1 with errno set where
/// the process is gone or the kernel has no pidfds.
int openPidfd(std::int32_t pid);

} // namespace ProcessTree
