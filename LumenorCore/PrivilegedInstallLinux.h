#pragma once

#include <string>
#include <string_view>

/// The root helper on Linux and the scripts that install and remove it, generated as text. Only
/// the hardware wake alarm needs root here (lid-closed mode is a logind inhibitor the app holds
/// itself), so the helper schedules and cancels wakes and nothing else, and no guard job is
/// needed. Every generator is pure: its text depends on its arguments alone.
namespace PrivilegedInstallLinux {

inline const std::string helperDirectory = "/usr/local/libexec/lumenor";
inline const std::string helperPath = helperDirectory + "/helper";
/// Where the helper keeps its lock and state files (wake, maintenance).
inline const std::string stateDirectory = "/var/lib/lumenor";
/// Present on a computer whose real-time clock can wake it.
inline const std::string wakeAlarmPath = "/sys/class/rtc/rtc0/wakealarm";

/// Whether `name` may be written into the sudoers rule: 1 to 64 ASCII letters, digits, ".", "_"
/// or "-", and not a word sudoers reads as an alias or as ALL (only capitals, digits and "_"), nor
/// one of its keywords ("Defaults", "ALL", anything ending in "_Alias" in any case).
bool isSafeUserName(std::string_view name);

/// The helper: schedule-wake <epoch> | cancel-wake | status | begin-maintenance. Its `status`
/// prints "wake=<0|1> rtc=<0|1>", rtc=0 followed by a note when no clock can wake the computer.
std::string helperScript();

/// The sudoers rule that lets `user` run the helper as root without a password, and nothing else.
/// Precondition: `isSafeUserName(user)`; otherwise throws std::invalid_argument.
std::string sudoers(std::string_view user);

/// The script that installs the helper and, last, the sudoers rule for `user`; it refuses a
/// computer without a wake-capable clock. Precondition as for sudoers().
std::string installScript(std::string_view user);

/// The script that stops the helper's work and removes everything the install put in place.
std::string uninstallScript();

/// One shell command line that runs `script` with /bin/sh, carrying it in base64, so it needs no
/// quoting anywhere.
std::string inlineCommand(std::string_view script);

} // namespace PrivilegedInstallLinux
