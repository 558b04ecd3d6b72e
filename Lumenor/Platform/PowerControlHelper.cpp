// The privileged helper's checks, the administrator prompt that installs it, and turning the
// display off.
#include "Lumenor/Platform/PowerControl.h"
#include "Lumenor/Platform/PowerControlDetail.h"

#include "LumenorCore/LumenorPaths.h"
#include "LumenorCore/LumenorWords.h"
#include "LumenorCore/PrivilegedInstall.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace PowerControl {

namespace {

constexpr double helperTimeout = 20;
constexpr double dialogTimeout = 300;
const std::string installPrompt = "Lumenor needs to install a small helper so your " +
                                  LumenorWords::machine() + " can stay awake with the lid closed.";

/// The prompt as the body of an AppleScript string literal. The app's own prompts need no
/// escaping; any other text must not be able to end the literal early.
std::string appleScriptStringBody(const std::string& text) {
    std::string body;
    for (char c : text) {
        if (c == '"' || c == '\\') {
            body += '\\';
        }
        body += c;
    }
    return body;
}

bool isExecutableFile(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

} // namespace

namespace detail {

std::string currentUserName() {
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    while (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == ERANGE &&
           buffer.size() < (1u << 20)) {
        buffer.resize(buffer.size() * 2);
    }
    return found && found->pw_name ? std::string(found->pw_name) : std::string();
}

void runAsAdminWith(const std::string& dialogTool, const std::string& script,
                    const std::string& prompt) {
    if (::access(dialogTool.c_str(), F_OK) != 0) {
        throw SetupError::failed("Lumenor can't ask for administrator approval on this system: " +
                                 dialogTool + " is missing.");
    }
    const std::string source = "do shell script \"" + PrivilegedInstall::inlineCommand(script) +
                               "\" with prompt \"" + appleScriptStringBody(prompt) +
                               "\" with administrator privileges";
    const RunResult result = run(dialogTool, {"-e", source}, dialogTimeout);
    if (result.code != 0) {
        throw SetupError::failed(result.output.empty() ? "Setup was cancelled." : result.output);
    }
}

void installHelperFor(const std::string& user, int minimumBattery) {
    if (!PrivilegedInstall::isSafeUserName(user)) {
        throw SetupError::badUser();
    }
    runAsAdmin(PrivilegedInstall::installScript(user, minimumBattery), installPrompt);
}

} // namespace detail

bool isHelperInstalled() {
    struct stat info {};
    return isExecutableFile(PrivilegedInstall::helperPath) &&
           ::stat(LumenorPaths::sudoersPath.c_str(), &info) == 0;
}

bool helperWorks() {
    if (!isHelperInstalled()) {
        return false;
    }
    const RunResult result =
        run("/usr/bin/sudo", {"-n", PrivilegedInstall::helperPath, "status"}, helperTimeout);
    return result.code == 0 && result.output.find("guard=1") != std::string::npos;
}

void runAsAdmin(const std::string& script, const std::string& prompt) {
    detail::runAsAdminWith(detail::osascriptPath, script, prompt);
}

void installHelper(int minimumBattery) {
    detail::installHelperFor(detail::currentUserName(), minimumBattery);
}

} // namespace PowerControl
