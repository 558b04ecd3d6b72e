#include "Lumenor/UI/AgentAccess.h"

#include "LumenorCore/LumenorPaths.h"

#include <array>
#include <fstream>
#include <iterator>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace AgentAccess {
namespace {

std::string failure(const fs::path& path, const std::error_code& error) {
    return path.string() + ": " + error.message();
}

std::optional<fs::path> linkTarget(const fs::path& link) {
    std::error_code error;
    fs::path target = fs::read_symlink(link, error);
    if (error)
        return std::nullopt;
    return target;
}

std::optional<std::string> readAll(const fs::path& path) {
    std::ifstream stream(path, std::ios::binary);
    if (!stream)
        return std::nullopt;
    std::string text{std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
    if (stream.bad())
        return std::nullopt;
    return text;
}

/// The agents whose skill folders we serve: their folder in the home and the skill folder in it.
struct Agent {
    const char* folder;
    const char* skills;
};
constexpr Agent agents[] = {{".claude", "skills"}, {".copilot", "skills"}, {".codex", "skills"}};
// Where the skill goes when no agent's folder exists yet.
constexpr const Agent& fallbackAgent = agents[1];

fs::path skillIn(const Context& context, const Agent& agent) {
    return context.home / agent.folder / agent.skills / "lumenor" / "SKILL.md";
}

/// Removes `folder` and its parents while they are empty, stopping at `top` (kept).
void removeEmptyFolders(fs::path folder, const fs::path& top) {
    std::error_code error;
    while (folder != top && folder.string().starts_with(top.string() + "/") &&
           fs::is_empty(folder, error) && !error) {
        if (!fs::remove(folder, error) || error)
            return;
        folder = folder.parent_path();
    }
}

std::optional<std::string> installLink(const Context& context) {
    const fs::path& tool = context.tool;
    std::error_code error;
    // A link to a command that isn't there would look installed and do nothing.
    if (!tool.is_absolute() || !fs::exists(tool, error))
        return failure(tool, std::make_error_code(std::errc::no_such_file_or_directory));
    const fs::path link = linkPath(context);
    if (fs::create_directories(link.parent_path(), error); error)
        return failure(link.parent_path(), error);
    const fs::file_status status = fs::symlink_status(link, error);
    if (error && status.type() != fs::file_type::not_found)
        return failure(link, error);
    if (fs::exists(status)) {
        if (!isInstalled(context))
            return link.string() + " already exists and isn't Lumenor's";
        if (fs::remove(link, error); error)
            return failure(link, error);
    }
    if (fs::create_symlink(tool, link, error); error)
        return failure(link, error);
    return std::nullopt;
}

std::optional<std::string> installSkillAt(const fs::path& skill, const fs::path& installed) {
    std::error_code error;
    if (fs::create_directories(installed.parent_path(), error); error)
        return failure(installed.parent_path(), error);
    if (fs::exists(fs::symlink_status(installed, error))) {
        if (fs::remove(installed, error); error)
            return failure(installed, error);
    }
    if (fs::copy_file(skill, installed, error); error)
        return failure(installed, error);
    return std::nullopt;
}

std::optional<std::string> installSkills(const Context& context) {
    const std::optional<fs::path> skill = shippedSkill(context);
    if (!skill)
        return std::nullopt;
    for (const fs::path& installed : skillPaths(context)) {
        if (auto message = installSkillAt(*skill, installed))
            return message;
    }
    return std::nullopt;
}

/// This copy's command sits at the link's place itself (installed into ~/.local/bin).
bool toolIsAtLink(const Context& context) {
    std::error_code error;
    return fs::equivalent(linkPath(context), context.tool, error) && !error &&
           !fs::is_symlink(linkPath(context), error);
}

} // namespace

Context Context::forExecutable(const fs::path& executable, const fs::path& home) {
    // PREFIX/bin/lumenor-app beside PREFIX/bin/lumenor and PREFIX/share/lumenor, installed and
    // in the build tree alike.
    const fs::path bin = executable.parent_path();
    const fs::path prefix = bin.parent_path();
    // A build tree serves the developer building it, and a copy that cannot tell where it is
    // might be one: launching either repairs nothing.
    std::error_code error;
    const bool buildTree =
        !executable.is_absolute() || fs::exists(prefix / "CMakeCache.txt", error);
    return {home, bin / "lumenor", (prefix / "share" / "lumenor" / "SKILL.md").lexically_normal(),
            !buildTree};
}

Context Context::current() {
    std::error_code error;
    const fs::path executable = fs::read_symlink("/proc/self/exe", error);
    return forExecutable(error ? fs::path() : executable, LumenorPaths::homeDirectory());
}

fs::path linkPath(const Context& context) {
    return context.home / ".local" / "bin" / "lumenor";
}

std::vector<fs::path> skillPaths(const Context& context) {
    std::vector<fs::path> result;
    std::error_code error;
    for (const Agent& agent : agents) {
        if (fs::is_directory(context.home / agent.folder, error))
            result.push_back(skillIn(context, agent));
    }
    if (result.empty())
        result.push_back(skillIn(context, fallbackAgent));
    return result;
}

bool isOurTarget(const fs::path& target, const Context& context) {
    if (target == context.tool)
        return true;
    std::error_code error;
    return target.is_absolute() && target.filename() == "lumenor" &&
           target.parent_path().filename() == "bin" &&
           fs::exists(target.parent_path() / "lumenor-app", error);
}

bool isInstalled(const Context& context) {
    const std::optional<fs::path> target = linkTarget(linkPath(context));
    return (target && isOurTarget(*target, context)) || toolIsAtLink(context);
}

std::optional<std::string> install(const Context& context) {
    if (!toolIsAtLink(context)) {
        if (auto message = installLink(context))
            return message;
    }
    return installSkills(context);
}

std::optional<std::string> pathAdvice(const Context& context, const std::string& path) {
    // What a shell runs for "lumenor": the first executable of that name along PATH. When that
    // is the command linked (an installed package's /usr/bin/lumenor, say), all is well.
    std::string_view rest = path;
    std::error_code error;
    while (!rest.empty()) {
        const std::size_t end = std::min(rest.find(':'), rest.size());
        const fs::path found = fs::path(rest.substr(0, end)) / "lumenor";
        rest.remove_prefix(std::min(end + 1, rest.size()));
        if (!found.is_absolute() || ::access(found.c_str(), X_OK) != 0)
            continue;
        if (fs::equivalent(found, context.tool, error))
            return std::nullopt;
        return "installed, but a shell runs " + found.string() + ", not this copy's command: put " +
               linkPath(context).parent_path().string() + " earlier on PATH to run it";
    }
    return "installed, but " + linkPath(context).parent_path().string() +
           " is not on PATH: add it to PATH (or log in again) to run lumenor from a shell";
}

std::optional<std::string> remove(const Context& context) {
    std::error_code error;
    const fs::path link = linkPath(context);
    if (isInstalled(context) && !toolIsAtLink(context)) {
        if (fs::remove(link, error); error)
            return failure(link, error);
        removeEmptyFolders(link.parent_path(), context.home);
    }
    for (const Agent& agent : agents) {
        const fs::path installed = skillIn(context, agent);
        if (!fs::exists(fs::symlink_status(installed, error)))
            continue;
        if (fs::remove(installed, error); error)
            return failure(installed, error);
        removeEmptyFolders(installed.parent_path(), context.home);
    }
    return std::nullopt;
}

void refreshIfInstalled(const Context& context) {
    if (!context.refreshes || !isInstalled(context))
        return;
    const std::optional<fs::path> target = linkTarget(linkPath(context));
    const bool pointsHere = toolIsAtLink(context) || (target && *target == context.tool);
    if (!pointsHere || skillIsStale(context))
        (void)install(context);
}

std::optional<fs::path> shippedSkill(const Context& context) {
    std::error_code error;
    if (!fs::is_regular_file(context.skill, error))
        return std::nullopt;
    return context.skill;
}

bool skillIsStale(const Context& context) {
    const std::optional<fs::path> skill = shippedSkill(context);
    if (!skill)
        return false;
    const std::optional<std::string> shipped = readAll(*skill);
    for (const fs::path& installed : skillPaths(context)) {
        const std::optional<std::string> text = readAll(installed);
        if (!text || !shipped || *text != *shipped)
            return true;
    }
    return false;
}

} // namespace AgentAccess
