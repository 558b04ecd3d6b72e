#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

/// Makes the running app reachable from a shell and from coding agents: a link
/// ~/.local/bin/lumenor to the command that ships with this copy of the app, and the agent
/// skill SKILL.md in a "lumenor" folder of every agent's skill folder found in the home
/// (Claude Code, the Copilot CLI, Codex). Needs no administrator rights.
namespace AgentAccess {

/// Where agent access works: a home folder and one copy of the app.
struct Context {
    std::filesystem::path home;
    /// The command of this copy: bin/lumenor beside its bin/lumenor-app.
    std::filesystem::path tool;
    /// The skill this copy ships, share/lumenor/SKILL.md under the same prefix; it may be
    /// missing.
    std::filesystem::path skill;
    /// Whether launching this copy repairs an installation: an installed copy, never a build
    /// tree (one with a CMakeCache.txt beside its bin/).
    bool refreshes = false;

    /// The copy whose executable is `executable`, for the user whose home is `home`.
    static Context forExecutable(const std::filesystem::path& executable,
                                 const std::filesystem::path& home);
    /// The running process's copy and the user's home (LumenorPaths::homeDirectory).
    static Context current();
};

/// home/.local/bin/lumenor
std::filesystem::path linkPath(const Context& context);
/// Where the skill goes: "lumenor/SKILL.md" in the skill folder of each agent whose folder
/// exists in the home (~/.claude, ~/.copilot, ~/.codex); the Copilot CLI's when none does.
std::vector<std::filesystem::path> skillPaths(const Context& context);

/// Whether a link target belongs to Lumenor: this copy's command, or a bin/lumenor with a
/// lumenor-app beside it (another installed copy or build tree).
bool isOurTarget(const std::filesystem::path& target, const Context& context);

/// The link is a symbolic link with one of our targets (whether the target exists is not
/// checked), or this copy's command is itself installed at the link's place.
bool isInstalled(const Context& context = Context::current());

/// Links the command, then copies the skill for every agent (skipped when the app has none).
/// Refuses to replace a file or a link that isn't ours. None on success, else a message for
/// the user.
std::optional<std::string> install(const Context& context = Context::current());

/// A note for the user when a shell searching `path` (a PATH value) would not run the linked
/// command: the link's folder is not on it, or another lumenor comes first. None when it would.
std::optional<std::string> pathAdvice(const Context& context, const std::string& path);

/// Removes the link when it is ours and the installed skills, whoever wrote them, then every
/// folder that this left empty, below the home. None on success,
/// else a message for the user.
std::optional<std::string> remove(const Context& context = Context::current());

/// At launch of an installed copy: re-points an installation that belongs to another copy
/// and rewrites skill files that differ from this copy's. Silent.
void refreshIfInstalled(const Context& context = Context::current());

/// The skill this copy ships, or none when it carries no skill.
std::optional<std::filesystem::path> shippedSkill(const Context& context = Context::current());

/// Some installed skill differs byte for byte from the app's (a missing one differs); false
/// when the app carries no skill.
bool skillIsStale(const Context& context = Context::current());

} // namespace AgentAccess
