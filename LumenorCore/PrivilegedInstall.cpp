#include "LumenorCore/PrivilegedInstall.h"

#include "LumenorCore/Base64.h"
#include "LumenorCore/LumenorPaths.h"
#include "LumenorCore/PrivilegedInstallText.h"

#include <algorithm>
#include <stdexcept>

namespace PrivilegedInstall {

namespace text {

std::string inQuotes(std::string_view text) {
    return "\"" + std::string(text) + "\"";
}

std::string emit(std::string_view content, std::string_view path, std::string_view decodeOption) {
    return "/bin/echo '" + Base64::encode(content) + "' | /usr/bin/base64 " +
           std::string(decodeOption) + " > " + inQuotes(path);
}

std::string inlineCommand(std::string_view script, std::string_view decodeOption) {
    return "/bin/echo '" + Base64::encode(script) + "' | /usr/bin/base64 " +
           std::string(decodeOption) + " | /bin/sh";
}

std::string orRollback(std::string_view command, std::string_view message) {
    std::string text = "if ! " + std::string(command) + "; then\n";
    if (!message.empty()) {
        text += "    echo " + inQuotes(message) + " >&2\n";
    }
    return text + "    rollback\n    exit 1\nfi\n";
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

std::string sudoers(std::string_view user, std::string_view helper) {
    if (!isSafeUserName(user)) {
        throw std::invalid_argument("sudoers: unsupported user name");
    }
    const std::string name(user);
    return "# Installed by Lumenor. Lets " + name +
           " run ONLY the Lumenor helper as root, without a password.\n"
           "# The helper validates its own arguments. Remove with: sudo rm "
           "/etc/sudoers.d/lumenor\n" +
           name + " ALL=(root) NOPASSWD: " + std::string(helper) + "\n";
}

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

} // namespace text

namespace {

using text::inQuotes;
using text::maintenanceStep;
using text::orRollback;

// std::to_string formats with the C locale's rules whatever the global locale is.
std::string decimal(int value) {
    return std::to_string(value);
}

std::string emit(std::string_view content, std::string_view path) {
    return text::emit(content, path, "-D");
}

std::string helperPreamble(int minimumBattery) {
    const int floor = std::clamp(minimumBattery, 1, 50);
    return "#!/bin/sh\n"
           "# Lumenor privileged helper — the only thing Lumenor is allowed to run as root.\n"
           "# Usage: helper lid-on | renew | lid-off | schedule-wake <epoch> | cancel-wake | guard "
           "| status | begin-maintenance\n"
           "set -u\n"
           "PATH=/usr/bin:/bin:/usr/sbin:/sbin\n"
           "export PATH\n"
           "umask 077\n"
           "STATE=" +
           inQuotes(stateDirectory) + "\nLEASE_SECONDS=" + decimal(leaseSeconds) +
           "\nMIN_BATTERY=" + decimal(floor) +
           "\n"
           "mkdir -p \"$STATE\"\n"
           "chmod 700 \"$STATE\"\n"
           "\n";
}

std::string helperLockStep() {
    return "# Serialize every invocation (app, guard, uninstall) so state transitions never "
           "interleave.\n"
           "if [ \"${LUMENOR_LOCKED:-}\" != \"1\" ]; then\n"
           "    LUMENOR_LOCKED=1\n"
           "    export LUMENOR_LOCKED\n"
           "    exec /usr/bin/lockf -k -t 60 \"$STATE/lock\" " +
           inQuotes(helperPath) +
           " \"$@\"\n"
           "fi\n"
           "\n";
}

std::string helperFunctions() {
    return R"sh(current() {
    value=$(pmset -g | awk '/SleepDisabled/ { print $2; exit }')
    if [ "$value" = "1" ]; then
        echo 1
    else
        echo 0
    fi
}

renew() {
    now=$(date +%s)
    echo "$((now + LEASE_SECONDS))" > "$STATE/lease"
}

lid_off() {
    if [ -e "$STATE/owned" ]; then
        baseline=$(cat "$STATE/baseline" 2>/dev/null)
        if [ "$baseline" != "1" ]; then
            baseline=0
        fi
        pmset -a disablesleep "$baseline" || exit 1
        if [ "$(current)" != "$baseline" ]; then
            exit 1
        fi
        rm -f "$STATE/owned" "$STATE/baseline" "$STATE/lease"
    fi
}

battery_low() {
    batt=$(pmset -g batt)
    case "$batt" in
        *"Battery Power"*) ;;
        *) return 1 ;;
    esac
    percent=$(printf '%s\n' "$batt" | grep -Eo '[0-9]+%' | head -n 1 | tr -d '%')
    [ -n "$percent" ] && [ "$percent" -lt "$MIN_BATTERY" ]
}

cancel_wake() {
    if [ -e "$STATE/wake" ]; then
        pmset schedule cancel wake "$(cat "$STATE/wake")" >/dev/null 2>&1
        rm -f "$STATE/wake"
    fi
}

)sh";
}

std::string helperOwnershipCommands() {
    return R"sh(case "${1:-}" in
    lid-on)
        # Install/uninstall in progress: never re-enable.
        if [ -e "$STATE/maintenance" ]; then
            echo "maintenance in progress" >&2
            exit 3
        fi
        if battery_low; then
            echo "battery below ${MIN_BATTERY}%" >&2
            exit 3
        fi
        # Remember what the setting was before Lumenor touched it, so lid-off restores it.
        if [ ! -e "$STATE/owned" ]; then
            current > "$STATE/baseline"
            touch "$STATE/owned"
        fi
        renew
        pmset -a disablesleep 1 || exit 1
        exit 0
        ;;
    renew)
        # Fails if the guard already restored sleep, so the app notices and re-evaluates.
        if [ ! -e "$STATE/owned" ]; then
            exit 1
        fi
        renew
        exit 0
        ;;
    begin-maintenance)
        # Atomically (under the lock): block lid-on, restore sleep, and verify.
        touch "$STATE/maintenance"
        cancel_wake
        lid_off
        if [ -e "$STATE/owned" ]; then
            exit 1
        fi
        exit 0
        ;;
    lid-off)
        lid_off
        ;;
)sh";
}

std::string helperWakeCommands() {
    return R"sh(    schedule-wake)
)sh" + text::wakeTimestampCheck() +
           R"sh(        when=$(date -r "$ts" "+%m/%d/%y %H:%M:%S")
        pmset schedule wake "$when" || exit 1
        echo "$when" > "$STATE/wake"
        exit 0
        ;;
    cancel-wake)
        cancel_wake
        exit 0
        ;;
)sh";
}

std::string helperGuardCommand() {
    return R"sh(    guard)
        if [ ! -e "$STATE/owned" ]; then
            exit 0
        fi
        exp=$(head -c 16 "$STATE/lease" 2>/dev/null | tr -cd '0-9')
        now=$(date +%s)
        if [ -z "$exp" ] || [ "${#exp}" -ge 11 ]; then
            exp=0
        fi
        if [ "$exp" -lt "$now" ] || [ "$exp" -gt "$((now + LEASE_SECONDS + 60))" ]; then
            logger -t lumenor "lease expired; turning lid-closed mode off"
            lid_off
            exit 0
        fi
        if battery_low; then
            logger -t lumenor "battery below ${MIN_BATTERY}%; turning lid-closed mode off"
            lid_off
        fi
        ;;
)sh";
}

std::string helperStatusAndUsage() {
    return R"sh(    status)
        owned=0
        if [ -e "$STATE/owned" ]; then
            owned=1
        fi
        guard=0
        if launchctl print "system/)sh" +
           guardLabel + R"sh(" >/dev/null 2>&1; then
            guard=1
        fi
        echo "owned=$owned disablesleep=$(current) guard=$guard"
        ;;
    *)
        echo "usage: $0 lid-on|renew|lid-off|schedule-wake <epoch>|cancel-wake|guard|status|begin-maintenance" >&2
        exit 2
        ;;
esac
)sh";
}

std::string bootoutGuard() {
    return "/bin/launchctl bootout system/" + guardLabel + " 2>/dev/null || true\n";
}

std::string rollbackFunction() {
    return "rollback() {\n"
           "    /bin/rm -f " +
           inQuotes(LumenorPaths::sudoersPath) + "\n    " + bootoutGuard() + "    /bin/rm -f " +
           inQuotes(guardPlistPath) + " \"$H\"\n    /bin/rm -rf \"$T\" " +
           inQuotes(stateDirectory) + "\n}\n";
}

std::string installSteps() {
    const std::string install = "/usr/bin/install -o root -g wheel -m ";
    return orRollback("/usr/sbin/visudo -cf \"$T/sudoers\" >/dev/null") +
           "/usr/bin/install -d -o root -g wheel -m 755 /Library/PrivilegedHelperTools\n" +
           orRollback(install + "755 \"$T/helper\" \"$H\"") +
           orRollback(install + "644 \"$T/guard.plist\" " + inQuotes(guardPlistPath)) +
           bootoutGuard() +
           orRollback("/bin/launchctl bootstrap system " + inQuotes(guardPlistPath),
                      "Couldn't load the Lumenor guard") +
           orRollback(install + "440 \"$T/sudoers\" " + inQuotes(LumenorPaths::sudoersPath)) +
           "/bin/rm -f " + inQuotes(stateDirectory + "/maintenance") + "\n/bin/rm -rf \"$T\"\n";
}

} // namespace

std::string helperScript(int minimumBattery) {
    return helperPreamble(minimumBattery) + helperLockStep() + helperFunctions() +
           helperOwnershipCommands() + helperWakeCommands() + helperGuardCommand() +
           helperStatusAndUsage();
}

std::string sudoers(std::string_view user) {
    return text::sudoers(user, helperPath);
}

std::string guardPlist() {
    // Each key shares its line with a scalar value; the array's strings get lines of their own.
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
           "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
           "<plist version=\"1.0\">\n"
           "<dict>\n"
           "    <key>Label</key><string>" +
           guardLabel +
           "</string>\n"
           "    <key>ProgramArguments</key>\n"
           "    <array>\n"
           "        <string>" +
           helperPath +
           "</string>\n"
           "        <string>guard</string>\n"
           "    </array>\n"
           "    <key>RunAtLoad</key><true/>\n"
           "    <key>StartInterval</key><integer>30</integer>\n"
           "</dict>\n"
           "</plist>\n";
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

std::string installScript(std::string_view user, int minimumBattery) {
    if (!isSafeUserName(user)) {
        throw std::invalid_argument("installScript: unsupported user name for sudoers");
    }
    return "#!/bin/sh\n"
           "set -eu\n"
           "H=" +
           inQuotes(helperPath) +
           "\n"
           "# Reinstall: restore normal sleep and block lid-on first, so a rollback can never "
           "strand it.\n" +
           maintenanceStep("Couldn't restore normal sleep; not reinstalling.") +
           "T=$(/usr/bin/mktemp -d /private/tmp/lumenor-setup.XXXXXX)\n" + rollbackFunction() +
           emit(helperScript(minimumBattery), "$T/helper") + "\n" +
           emit(sudoers(user), "$T/sudoers") + "\n" + emit(guardPlist(), "$T/guard.plist") + "\n" +
           installSteps();
}

std::string uninstallScript() {
    return "#!/bin/sh\n"
           "set -eu\n"
           "H=" +
           inQuotes(helperPath) + "\n" +
           maintenanceStep("Couldn't restore normal sleep; leaving the guard installed.") +
           "/bin/rm -f " + inQuotes(LumenorPaths::sudoersPath) + "\n" + bootoutGuard() +
           "/bin/rm -f " + inQuotes(guardPlistPath) + " " + inQuotes(helperPath) + "\n" +
           "/bin/rm -rf " + inQuotes(stateDirectory) + "\n";
}

std::string inlineCommand(std::string_view script) {
    return text::inlineCommand(script, "-D");
}

} // namespace PrivilegedInstall
