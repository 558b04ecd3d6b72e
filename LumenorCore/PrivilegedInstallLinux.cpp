#include "LumenorCore/PrivilegedInstallLinux.h"

#include "LumenorCore/Base64.h"
#include "LumenorCore/LumenorPaths.h"

#include <algorithm>
#include <stdexcept>

namespace PrivilegedInstallLinux {
namespace {

// `text` between double quotation marks, so "$T/..." still expands.
std::string inQuotes(std::string_view text) {
    return "\"" + std::string(text) + "\"";
}

// Generated text travels in base64, decoded by coreutils, so it needs no quoting at all.
std::string encoded(std::string_view content) {
    return "/bin/echo '" + Base64::encode(content) + "' | /usr/bin/base64 -d";
}

// Writes `content` (whole lines) to `path` verbatim through a quoted here-document, so that a
// person reads what they run: the shell expands nothing in it, and the end word is one that no
// line of the content is.
std::string emit(std::string_view content, std::string_view path) {
    if (content.empty() || content.back() != '\n')
        throw std::logic_error("a here-document carries whole lines only");
    std::string end = "LUMENOR_END";
    while (("\n" + std::string(content)).find("\n" + end + "\n") != std::string::npos)
        end += "_";
    return "/bin/cat > " + inQuotes(path) + " <<'" + end + "'\n" + std::string(content) + end;
}

// `command` as a tested step: on failure roll back and exit 1.
std::string orRollback(std::string_view command) {
    return "if ! " + std::string(command) + "; then\n    rollback\n    exit 1\nfi\n";
}

// The old helper stops its work under its own lock before anything is replaced or removed.
std::string maintenanceStep(std::string_view failureMessage) {
    return "if [ -x \"$H\" ]; then\n"
           "    if ! \"$H\" begin-maintenance; then\n"
           "        echo " +
           inQuotes(failureMessage) +
           " >&2\n"
           "        exit 1\n"
           "    fi\n"
           "fi\n";
}

// schedule-wake's timestamp ("$2"): whole seconds, 60 s to a day ahead; exits 2 with the reason
// when it fails, and cancels the wake already set when it passes.
std::string wakeTimestampCheck() {
    return R"sh(        ts="${2:-}"
        case "$ts" in
            "" | *[!0-9]*)
                echo "schedule-wake: bad timestamp" >&2
                exit 2
                ;;
        esac
        if [ "${#ts}" -gt 10 ]; then
            echo "schedule-wake: timestamp out of range" >&2
            exit 2
        fi
        now=$(date +%s)
        if [ "$ts" -lt "$((now + 60))" ] || [ "$ts" -gt "$((now + 86400))" ]; then
            echo "schedule-wake: timestamp out of range" >&2
            exit 2
        fi
        cancel_wake
)sh";
}

std::string helperPreamble() {
    return "#!/bin/sh\n"
           "# Lumenor privileged helper — the only thing Lumenor is allowed to run as root.\n"
           "# Usage: helper schedule-wake <epoch> | cancel-wake | status | begin-maintenance\n"
           "set -u\n"
           "PATH=/usr/bin:/bin:/usr/sbin:/sbin\n"
           "export PATH\n"
           "umask 077\n"
           "STATE=" +
           inQuotes(stateDirectory) +
           "\n"
           "mkdir -p \"$STATE\"\n"
           "chmod 700 \"$STATE\"\n"
           "\n"
           "# Serialize every invocation (app, install, uninstall) so state transitions never "
           "interleave.\n"
           "if [ \"${LUMENOR_LOCKED:-}\" != \"1\" ]; then\n"
           "    LUMENOR_LOCKED=1\n"
           "    export LUMENOR_LOCKED\n"
           "    exec /usr/bin/flock -w 60 \"$STATE/lock\" " +
           inQuotes(helperPath) +
           " \"$@\"\n"
           "fi\n"
           "\n";
}

std::string helperBody() {
    return R"sh(cancel_wake() {
    if [ -e "$STATE/wake" ]; then
        /usr/sbin/rtcwake -m disable >/dev/null 2>&1
        rm -f "$STATE/wake"
    fi
}

case "${1:-}" in
    begin-maintenance)
        # Under the lock: no wake of ours outlives an install or a removal, even one whose
        # record was lost.
        touch "$STATE/maintenance"
        /usr/sbin/rtcwake -m disable >/dev/null 2>&1
        rm -f "$STATE/wake"
        exit 0
        ;;
    schedule-wake)
        # One that waited for the lock while the helper was reinstalled or removed must not
        # arm the alarm again after the final disable.
        if [ -e "$STATE/maintenance" ] || [ ! -e )sh" +
           inQuotes(helperPath) + R"sh( ]; then
            echo "schedule-wake: refused while the helper is being installed or removed" >&2
            exit 1
        fi
)sh" + wakeTimestampCheck() +
           R"sh(        when=$(date -d "@$ts" "+%m/%d/%y %H:%M:%S")
        if ! /usr/sbin/rtcwake -m no -t "$ts" >/dev/null; then
            logger -t lumenor "couldn't schedule a wake for $when"
            exit 1
        fi
        echo "$when" > "$STATE/wake"
        logger -t lumenor "wake scheduled for $when"
        exit 0
        ;;
    cancel-wake)
        cancel_wake
        exit 0
        ;;
    status)
        wake=0
        if [ -e "$STATE/wake" ]; then
            wake=1
        fi
        if [ -e )sh" +
           inQuotes(wakeAlarmPath) + R"sh( ]; then
            echo "wake=$wake rtc=1"
        else
            echo "wake=$wake rtc=0 (this computer has no wake-capable clock)"
        fi
        ;;
    *)
        echo "usage: $0 schedule-wake <epoch>|cancel-wake|status|begin-maintenance" >&2
        exit 2
        ;;
esac
)sh";
}

std::string rollbackFunction() {
    return "rollback() {\n"
           "    /bin/rm -f " +
           inQuotes(LumenorPaths::sudoersPath) +
           "\n"
           "    /bin/rm -f \"$H\"\n"
           "    /bin/rmdir " +
           inQuotes(helperDirectory) +
           " 2>/dev/null || true\n"
           "    /bin/rm -rf \"$T\" " +
           inQuotes(stateDirectory) + "\n}\n";
}

std::string installSteps() {
    const std::string install = "/usr/bin/install -o root -g root -m ";
    return orRollback("/usr/sbin/visudo -cf \"$T/sudoers\" >/dev/null") +
           "/usr/bin/install -d -o root -g root -m 755 " + inQuotes(helperDirectory) + "\n" +
           orRollback(install + "755 \"$T/helper\" \"$H\"") +
           orRollback(install + "440 \"$T/sudoers\" " + inQuotes(LumenorPaths::sudoersPath)) +
           "/bin/rm -f " + inQuotes(stateDirectory + "/maintenance") + "\n/bin/rm -rf \"$T\"\n";
}

std::string scriptHead() {
    return "#!/bin/sh\n"
           "set -eu\n"
           "H=" +
           inQuotes(helperPath) + "\n";
}

} // namespace

std::string helperScript() {
    return helperPreamble() + helperBody();
}

bool isSafeUserName(std::string_view name) {
    if (name.empty() || name.size() > 64) {
        return false;
    }
    const auto isUpper = [](char c) { return c >= 'A' && c <= 'Z'; };
    const auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    const auto isLower = [](char c) { return c >= 'a' && c <= 'z'; };
    const auto allowed = [&](char c) {
        return isUpper(c) || isLower(c) || isDigit(c) || c == '.' || c == '_' || c == '-';
    };
    if (!std::all_of(name.begin(), name.end(), allowed)) {
        return false;
    }
    // sudoers reads such a word as an alias, or as ALL (every user), never as this one user.
    const auto aliasCharacter = [&](char c) { return isUpper(c) || isDigit(c) || c == '_'; };
    const bool readAsAlias =
        isUpper(name.front()) && std::all_of(name.begin(), name.end(), aliasCharacter);
    // Nor may it be one of sudoers' own keywords: Defaults, ALL, or an alias declaration
    // (User_Alias, Cmnd_Alias, …), whose suffix sudoers matches in any case.
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    const std::string_view suffix = "_alias";
    const bool aliasKeyword =
        name.size() >= suffix.size() &&
        std::equal(suffix.begin(), suffix.end(), name.end() - suffix.size(),
                   [&](char wanted, char given) { return wanted == lower(given); });
    return !readAsAlias && !aliasKeyword && name != "Defaults" && name != "ALL";
}

std::string sudoers(std::string_view user) {
    if (!isSafeUserName(user)) {
        throw std::invalid_argument("sudoers: unsupported user name");
    }
    const std::string name(user);
    return "# Installed by Lumenor. Lets " + name +
           " run ONLY the Lumenor helper as root, without a password.\n"
           "# The helper validates its own arguments. Remove with: sudo rm " +
           LumenorPaths::sudoersPath + "\n" + name + " ALL=(root) NOPASSWD: " + helperPath + "\n";
}

std::string installScript(std::string_view user) {
    const std::string rule = sudoers(user); // checks the name before any text is made
    return scriptHead() + "if [ ! -e " + inQuotes(wakeAlarmPath) +
           " ]; then\n"
           "    echo \"This computer has no wake-capable clock, so it can't wake on a "
           "schedule.\" >&2\n"
           "    exit 1\n"
           "fi\n"
           "# Reinstall: the old helper cancels its wake under its lock before it is replaced.\n" +
           maintenanceStep("Couldn't stop the old helper; not reinstalling.") +
           "T=$(/usr/bin/mktemp -d /tmp/lumenor-setup.XXXXXX)\n" + rollbackFunction() +
           emit(helperScript(), "$T/helper") + "\n" + emit(rule, "$T/sudoers") + "\n" +
           installSteps();
}

std::string uninstallScript() {
    return scriptHead() + maintenanceStep("Couldn't stop the helper; not removing it.") +
           "/bin/rm -f " + inQuotes(LumenorPaths::sudoersPath) + "\n/bin/rm -f \"$H\"\n" +
           "/bin/rmdir " + inQuotes(helperDirectory) + " 2>/dev/null || true\n" + "/bin/rm -rf " +
           inQuotes(stateDirectory) + "\n";
}

std::string inlineCommand(std::string_view script) {
    return encoded(script) + " | /bin/sh";
}

} // namespace PrivilegedInstallLinux
