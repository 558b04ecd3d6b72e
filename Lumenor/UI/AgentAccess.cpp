#include "Lumenor/UI/AgentAccess.h"

#include "LumenorCore/LumenorPaths.h"

#include <array>
#include <fstream>
#include <iterator>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace AgentAccess {
namespace {

std::string failure(const fs::path& path, const std::error_code& error) {
    return path.string() + ": " + error.message();
}

/// The last `count` components of a path, empty ones (a trailing separator) skipped.
std::vector<std::string> lastComponents(const fs::path& path, std::size_t count) {
    std::vector<std::string> all;
    for (const fs::path& part : path) {
        if (!part.empty())
            all.push_back(part.string());
    }
    if (all.size() > count)
        all.erase(all.begin(), all.end() - static_cast<std::ptrdiff_t>(count));
    return all;
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

bool startsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

bool runsFromApplicationsFolder(const Context& context) {
    const std::string bundle = context.bundle.lexically_normal().string();
    const std::string userApplications = (context.home / "Applications").lexically_normal();
    return startsWith(bundle, "/Applications/") || startsWith(bundle, userApplications + "/");
}

std::optional<std::string> installLink(const Context& context) {
    const fs::path tool = toolPath(context);
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

std::optional<std::string> installSkill(const Context& context) {
    const std::optional<fs::path> skill = bundledSkill(context);
    if (!skill)
        return std::nullopt;
    const fs::path installed = skillPath(context);
    std::error_code error;
    if (fs::create_directories(installed.parent_path(), error); error)
        return failure(installed.parent_path(), error);
    if (fs::exists(fs::symlink_status(installed, error))) {
        if (fs::remove(installed, error); error)
            return failure(installed, error);
    }
    if (fs::copy_file(*skill, installed, error); error)
        return failure(installed, error);
    return std::nullopt;
}

} // namespace

Context Context::current() {
    std::error_code error;
    const fs::path executable = fs::read_symlink("/proc/self/exe", error);
    // .../Lumenor.app/Contents/MacOS/Lumenor: the app folder is three levels up.
    fs::path bundle = error ? fs::path() : executable.parent_path().parent_path().parent_path();
    return Context{LumenorPaths::homeDirectory(), std::move(bundle)};
}

fs::path linkPath(const Context& context) {
    return context.home / ".local" / "bin" / "lumenor";
}

fs::path toolPath(const Context& context) {
    return context.bundle / "Contents" / "Helpers" / "lumenor";
}

fs::path skillPath(const Context& context) {
    return context.home / ".copilot" / "skills" / "lumenor" / "SKILL.md";
}

bool isOurTarget(const fs::path& target, const Context& context) {
    if (target == toolPath(context))
        return true;
    // Whole components, so that "NotLumenor.app" is somebody else's.
    static const std::vector<std::string> anyCopy{"Lumenor.app", "Contents", "Helpers", "lumenor"};
    return lastComponents(target, anyCopy.size()) == anyCopy;
}

bool isInstalled(const Context& context) {
    const std::optional<fs::path> target = linkTarget(linkPath(context));
    return target && isOurTarget(*target, context);
}

std::optional<std::string> install(const Context& context) {
    if (auto message = installLink(context))
        return message;
    return installSkill(context);
}

std::optional<std::string> remove(const Context& context) {
    std::error_code error;
    if (isInstalled(context)) {
        if (fs::remove(linkPath(context), error); error)
            return failure(linkPath(context), error);
    }
    const fs::path installed = skillPath(context);
    if (fs::exists(fs::symlink_status(installed, error))) {
        if (fs::remove(installed, error); error)
            return failure(installed, error);
        fs::remove_all(installed.parent_path(), error);
    }
    return std::nullopt;
}

void refreshIfInstalled(const Context& context) {
    if (!runsFromApplicationsFolder(context) || !isInstalled(context))
        return;
    const std::optional<fs::path> target = linkTarget(linkPath(context));
    if (!target || *target != toolPath(context) || skillIsStale(context))
        (void)install(context);
}

std::optional<fs::path> bundledSkill(const Context& context) {
    const fs::path skill = context.bundle / "Contents" / "Resources" / "SKILL.md";
    std::error_code error;
    if (!fs::is_regular_file(skill, error))
        return std::nullopt;
    return skill;
}

bool skillIsStale(const Context& context) {
    const std::optional<fs::path> skill = bundledSkill(context);
    if (!skill)
        return false;
    const std::optional<std::string> installed = readAll(skillPath(context));
    const std::optional<std::string> bundled = readAll(*skill);
    return !installed || !bundled || *installed != *bundled;
}

} // namespace AgentAccess
