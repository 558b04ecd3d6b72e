#include "LumenorCore/PrivilegedInstallLinux.h"

#include "LumenorCore/LumenorPaths.h"
#include "LumenorCore/PrivilegedInstall.h"
#include "LumenorCore/PrivilegedInstallText.h"

namespace PrivilegedInstallLinux {
namespace {

using PrivilegedInstall::text::inQuotes;
using PrivilegedInstall::text::maintenanceStep;
using PrivilegedInstall::text::orRollback;
using PrivilegedInstall::text::wakeTimestampCheck;

constexpr std::string_view decode = "-d";

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
        # Under the lock: no wake of ours outlives an install or a removal.
        touch "$STATE/maintenance"
        cancel_wake
        exit 0
        ;;
    schedule-wake)
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

std::string sudoers(std::string_view user) {
    return PrivilegedInstall::text::sudoers(user, helperPath);
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
           PrivilegedInstall::text::emit(helperScript(), "$T/helper", decode) + "\n" +
           PrivilegedInstall::text::emit(rule, "$T/sudoers", decode) + "\n" + installSteps();
}

std::string uninstallScript() {
    return scriptHead() + maintenanceStep("Couldn't stop the helper; not removing it.") +
           "/bin/rm -f " + inQuotes(LumenorPaths::sudoersPath) + "\n/bin/rm -f \"$H\"\n" +
           "/bin/rmdir " + inQuotes(helperDirectory) + " 2>/dev/null || true\n" + "/bin/rm -rf " +
           inQuotes(stateDirectory) + "\n";
}

std::string inlineCommand(std::string_view script) {
    return PrivilegedInstall::text::inlineCommand(script, decode);
}

} // namespace PrivilegedInstallLinux
