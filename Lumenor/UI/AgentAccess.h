#pragma once

#include <filesystem>
#include <optional>
#include <string>

/// Makes the running app reachable from a shell and from the Copilot CLI: a link
/// ~/.local/bin/lumenor to the command inside the app folder, and the agent skill file
/// ~/.copilot/skills/lumenor/SKILL.md copied from the app folder. Needs no administrator rights.
namespace AgentAccess {

/// Where agent access works: a home folder and one copy of the app.
struct Context {
    std::filesystem::path home;
    /// The app folder, ".../Lumenor.app".
    std::filesystem::path bundle;

    /// The user's home (LumenorPaths::homeDirectory) and the app folder around the running
    /// executable (".../Lumenor.app/Contents/MacOS/Lumenor").
    static Context current();
};

/// home/.local/bin/lumenor
std::filesystem::path linkPath(const Context& context);
/// bundle/Contents/Helpers/lumenor
std::filesystem::path toolPath(const Context& context);
/// home/.copilot/skills/lumenor/SKILL.md
std::filesystem::path skillPath(const Context& context);

/// Whether a link target belongs to Lumenor: this copy's command, or the command of any copy
/// of the app (a path ending in Lumenor.app/Contents/Helpers/lumenor).
bool isOurTarget(const std::filesystem::path& target, const Context& context);

/// The link is a symbolic link with one of our targets; whether the target exists is not
/// checked.
bool isInstalled(const Context& context = Context::current());

/// Links the command, then copies the skill (skipped when the app has none). Refuses to
/// replace a file or a link that isn't ours. None on success, else a message for the user.
std::optional<std::string> install(const Context& context = Context::current());

/// Removes the link when it is ours and the installed skill with its folder, whoever wrote
/// it. None on success, else a message for the user.
std::optional<std::string> remove(const Context& context = Context::current());

/// At launch of a copy in /Applications or ~/Applications: re-points an installation that
/// belongs to another copy and rewrites a skill file that differs from this copy's. Silent.
void refreshIfInstalled(const Context& context = Context::current());

/// bundle/Contents/Resources/SKILL.md, or none when the app carries no skill.
std::optional<std::filesystem::path> bundledSkill(const Context& context = Context::current());

/// The installed skill differs byte for byte from the app's (a missing one differs); false
/// when the app carries no skill.
bool skillIsStale(const Context& context = Context::current());

} // namespace AgentAccess
