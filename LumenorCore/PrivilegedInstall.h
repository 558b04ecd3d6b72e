#pragma once

#include <string>
#include <string_view>

/// The files of the privileged helper (the root helper script, its sudoers rule, its guard job)
/// and the scripts that install and remove them, generated as text. Every generator is pure: its
/// text depends on its arguments alone, never on the environment of the generating process.
namespace PrivilegedInstall {

inline const std::string helperPath = "/Library/PrivilegedHelperTools/com.corvata.lumenor.helper";
inline const std::string guardLabel = "com.corvata.lumenor.guard";
inline const std::string guardPlistPath = "/Library/LaunchDaemons/com.corvata.lumenor.guard.plist";
/// Where the helper keeps its lock and state files (owned, baseline, lease, wake, maintenance).
inline const std::string stateDirectory = "/var/db/com.corvata.lumenor";
/// Battery floor in percent below which lid-closed mode is refused or ended.
inline constexpr int defaultMinimumBattery = 10;
/// How long a lid-closed lease lasts without renewal.
inline constexpr int leaseSeconds = 120;

/// The helper script; `minimumBattery` is clamped to 1...50 percent.
std::string helperScript(int minimumBattery);

/// The sudoers rule that lets `user` run the helper as root without a password, and nothing else.
/// Precondition: `isSafeUserName(user)`; otherwise throws std::invalid_argument.
std::string sudoers(std::string_view user);

/// The guard job's property list: runs the helper's `guard` at load and every 30 seconds.
std::string guardPlist();

/// Whether `name` may be written into the sudoers rule: 1 to 64 ASCII letters, digits, ".", "_"
/// or "-", and not a word sudoers reads as an alias or as ALL (only capitals, digits and "_"), nor
/// one of its keywords ("Defaults", "ALL", anything ending in "_Alias" in any case).
bool isSafeUserName(std::string_view name);

/// The script that installs the helper, the guard job and, last, the sudoers rule for `user`.
/// Precondition: `isSafeUserName(user)`; otherwise throws std::invalid_argument and writes nothing
/// into a script.
std::string installScript(std::string_view user, int minimumBattery);

/// The script that restores normal sleep and then removes everything the install put in place.
std::string uninstallScript();

/// One shell command line that runs `script` with /bin/sh; it carries the script in base64, so it
/// needs no quoting in a shell or in an AppleScript string literal.
std::string inlineCommand(std::string_view script);

} // namespace PrivilegedInstall
