// The wake helper's checks, the administrator prompt (pkexec) that installs and removes it, and
// turning the display off.
#include "Lumenor/Platform/DBusCall.h"
#include "Lumenor/Platform/PowerControl.h"
#include "Lumenor/Platform/PowerControlDetail.h"

#include "LumenorCore/LumenorPaths.h"
#include "LumenorCore/LumenorWords.h"
#include "LumenorCore/PrivilegedInstallLinux.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace PowerControl {

namespace {

constexpr double helperTimeout = 20;
constexpr double dialogTimeout = 300;
// pkexec's own exit statuses: the dialog was dismissed; nobody could be asked or it was refused.
constexpr int pkexecDismissed = 126;
constexpr int pkexecNotAuthorized = 127;

bool isExecutableFile(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

std::string cannotAsk(const std::string& why, const std::string& command) {
    return "Lumenor can't ask for administrator approval here: " + why +
           ". Run this in a terminal instead: lumenor " + command + " --print-script | sudo sh";
}

const std::string noAuthority = "the system's authorization service (polkitd) isn't running";

std::string missingTool(const std::string& name, const std::string& path) {
    return "Scheduled wake needs " + name + ", and " + path +
           " is missing: install the sudo package first.";
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

std::optional<std::string> setupBlockerFor(const SetupTools& tools, const std::string& user,
                                           bool desktopSession, bool polkitRuns) {
    if (!PrivilegedInstallLinux::isSafeUserName(user)) {
        return SetupError::badUser().what();
    }
    if (!isExecutableFile(tools.sudo)) {
        return missingTool("sudo", tools.sudo);
    }
    if (!isExecutableFile(tools.visudo)) {
        return missingTool("visudo", tools.visudo);
    }
    if (!isExecutableFile(tools.pkexec)) {
        return cannotAsk("pkexec is not installed", "setup");
    }
    if (!polkitRuns) {
        return cannotAsk(noAuthority, "setup");
    }
    if (!desktopSession) {
        return cannotAsk("no polkit authentication agent is running", "setup");
    }
    return std::nullopt;
}

void runAsAdminWith(const std::string& pkexec, const std::string& script,
                    const std::string& command) {
    if (!isExecutableFile(pkexec)) {
        throw SetupError::failed(cannotAsk("pkexec is not installed", command));
    }
    const RunResult result = run(
        pkexec, {"/bin/sh", "-c", PrivilegedInstallLinux::inlineCommand(script)}, dialogTimeout);
    if (result.code == 0) {
        return;
    }
    if (result.code == pkexecDismissed) {
        throw SetupError::failed("Setup was cancelled.");
    }
    // pkexec's own words name a library's error; ours say what is missing and the way out.
    if (result.code == pkexecNotAuthorized) {
        const bool noAgent = result.output.find("authentication agent") != std::string::npos;
        const bool noPolkit = result.output.find("authority") != std::string::npos;
        throw SetupError::failed(cannotAsk(noAgent    ? "no polkit authentication agent is running"
                                           : noPolkit ? noAuthority
                                                      : "polkit did not allow it",
                                           command));
    }
    throw SetupError::failed(result.output.empty() ? "Setup was cancelled." : result.output);
}

void installHelperFor(const std::string& user, const std::string& pkexec) {
    if (!PrivilegedInstallLinux::isSafeUserName(user)) {
        throw SetupError::badUser();
    }
    runAsAdminWith(pkexec, PrivilegedInstallLinux::installScript(user), "setup");
}

} // namespace detail

bool isHelperInstalled() {
    struct stat info {};
    return isExecutableFile(PrivilegedInstallLinux::helperPath) &&
           ::stat(LumenorPaths::sudoersPath.c_str(), &info) == 0;
}

bool helperWorks() {
    if (!isHelperInstalled()) {
        return false;
    }
    const RunResult result = runHelper({"status"});
    return result.code == 0 && result.output.find("rtc=1") != std::string::npos;
}

RunResult runHelper(const std::vector<std::string>& words) {
    std::vector<std::string> arguments{"-n", PrivilegedInstallLinux::helperPath};
    arguments.insert(arguments.end(), words.begin(), words.end());
    return run("/usr/bin/sudo", arguments, helperTimeout);
}

void runAsAdmin(const std::string& script, const std::string& command) {
    detail::runAsAdminWith(detail::SetupTools{}.pkexec, script, command);
}

void installHelper() {
    detail::installHelperFor(detail::currentUserName(), detail::SetupTools{}.pkexec);
}

void uninstallHelper() {
    runAsAdmin(PrivilegedInstallLinux::uninstallScript(), "uninstall-helper");
}

std::optional<std::string> setupBlocker() {
    const auto present = [](const char* name) {
        const char* value = std::getenv(name);
        return value != nullptr && *value != 0;
    };
    // polkitd may also be started on demand by the bus.
    const auto* bus = DBusCall::systemBus().interface();
    const QString polkit = QStringLiteral("org.freedesktop.PolicyKit1");
    const bool polkitRuns =
        bus != nullptr && (bus->isServiceRegistered(polkit).value() ||
                           bus->activatableServiceNames().value().contains(polkit));
    return detail::setupBlockerFor(detail::SetupTools{}, detail::currentUserName(),
                                   present("DISPLAY") || present("WAYLAND_DISPLAY"), polkitRuns);
}

} // namespace PowerControl
