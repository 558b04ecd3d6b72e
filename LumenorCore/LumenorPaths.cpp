#include "LumenorCore/LumenorPaths.h"

#include <cerrno>
#include <cstdlib>
#include <optional>
#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace LumenorPaths {
namespace {

std::optional<std::string> nonEmptyEnvironment(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0')
        return std::nullopt;
    return std::string(value);
}

// Only when $HOME says nothing (some services and containers start without one).
std::optional<std::string> accountHome() {
    const long suggested = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(suggested > 0 ? static_cast<std::size_t>(suggested) : 16384);
    for (int attempt = 0; attempt < 8; ++attempt) {
        passwd entry{};
        passwd* found = nullptr;
        const int error = ::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found);
        if (error == ERANGE) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (error != 0 || found == nullptr || found->pw_dir == nullptr || *found->pw_dir == '\0')
            return std::nullopt;
        return std::string(found->pw_dir);
    }
    return std::nullopt;
}

// The XDG base directory variables count only when absolute; anything else is to be ignored.
std::optional<std::string> absoluteEnvironment(const char* name) {
    auto value = nonEmptyEnvironment(name);
    if (value && value->front() == '/')
        return value;
    return std::nullopt;
}

} // namespace

std::filesystem::path homeDirectory() {
    if (auto overridden = nonEmptyEnvironment("LUMENOR_HOME"))
        return *overridden;
    if (auto home = nonEmptyEnvironment("HOME"))
        return *home;
    // An account without a database entry (some containers) still needs a place.
    return accountHome().value_or("/");
}

std::filesystem::path supportDirectory() {
    if (auto state = absoluteEnvironment("XDG_STATE_HOME"))
        return std::filesystem::path(*state) / "lumenor";
    return homeDirectory() / ".local" / "state" / "lumenor";
}

std::string socketPath() {
    return (supportDirectory() / "lumenor.sock").string();
}

std::filesystem::path stateFile() {
    return supportDirectory() / "state.json";
}

std::filesystem::path logFile() {
    return supportDirectory() / "lumenor.log";
}

std::filesystem::path lockFile() {
    return supportDirectory() / "lumenor.lock";
}

std::filesystem::path settingsFile() {
    const auto config = absoluteEnvironment("XDG_CONFIG_HOME");
    const std::filesystem::path base =
        config ? std::filesystem::path(*config) : homeDirectory() / ".config";
    return base / "Lumenor" / "Lumenor.conf";
}

std::filesystem::path legacySupportDirectory() {
    return homeDirectory() / "Library" / "Application Support" / "Lumenor";
}

} // namespace LumenorPaths
