#pragma once

#include <string>
#include <string_view>

/// The shell pieces both helper installations are built from. Internal to the generators.
namespace PrivilegedInstall::text {

/// `text` between double quotation marks, so "$T/..." still expands.
std::string inQuotes(std::string_view text);

/// One command line that writes `content` to `path` verbatim: base64 decoded by
/// `/usr/bin/base64 <decodeOption>` ("-D" on macOS, "-d" with coreutils).
std::string emit(std::string_view content, std::string_view path, std::string_view decodeOption);

/// One command line that runs `script` with /bin/sh; it needs no quoting anywhere.
std::string inlineCommand(std::string_view script, std::string_view decodeOption);

/// `command` as a tested step: on failure print `message` (when given), roll back and exit 1.
std::string orRollback(std::string_view command, std::string_view message = {});

/// Stops an installed helper's work first ("$H" begin-maintenance); on failure prints
/// `failureMessage` and exits 1.
std::string maintenanceStep(std::string_view failureMessage);

/// The helper's check of schedule-wake's timestamp ("$2": whole seconds, 60 s to a day ahead);
/// exits 2 with the reason when it fails, and cancels the wake already set when it passes.
std::string wakeTimestampCheck();

/// The sudoers rule letting `user` run `helper` as root without a password. Precondition:
/// isSafeUserName(user); otherwise throws std::invalid_argument.
std::string sudoers(std::string_view user, std::string_view helper);

} // namespace PrivilegedInstall::text
