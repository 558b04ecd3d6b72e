#include "LumenorCore/ProcessTree.h"

#include "LumenorCore/Utf8.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <fcntl.h>
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

bool isCopilotRun(const std::vector<std::string>& arguments) {
    const std::string name = lowercased(lastPathComponent(arguments.front()));
    if (name == "copilot" || name.starts_with("copilot-"))
        return true;
    // The agent started by the node runtime names its script second.
    return name == "node" && arguments.size() > 1 &&
           lowercased(arguments[1]).find("copilot") != std::string::npos;
}

bool isOneShotRun(const std::vector<std::string>& arguments) {
    auto has = [&arguments](auto predicate) {
        return std::any_of(arguments.begin(), arguments.end(), predicate);
    };
    // A server or protocol session is long-lived even when handed a prompt.
    if (has([](const std::string& a) { return a == "--server" || a == "--acp"; }))
        return false;
    return has([](const std::string& a) {
        return a == "-p" || a == "--prompt" || a.starts_with("--prompt=");
    });
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

std::optional<bool> classifyCopilot(const std::vector<std::string>& arguments) {
    if (arguments.empty() || !isCopilotRun(arguments))
        return std::nullopt;
    return isOneShotRun(arguments);
}

std::optional<CopilotAncestor> copilotAncestor(std::int32_t startingAt, int maxDepth) {
    std::int32_t current = startingAt;
    for (int examined = 1; examined <= maxDepth; ++examined) {
        if (current < 2)
            return std::nullopt;
        if (const auto args = arguments(current)) {
            if (const auto oneShot = classifyCopilot(*args))
                return CopilotAncestor{current, *oneShot};
        }
        const auto parent = parentPID(current);
        if (!parent || *parent == current)
            return std::nullopt;
        current = *parent;
    }
    return std::nullopt;
}

} // namespace ProcessTree
