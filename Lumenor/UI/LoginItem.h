#pragma once

#include <filesystem>
#include <optional>
#include <string>

/// Opens this copy of the app at login through an XDG autostart entry,
/// $XDG_CONFIG_HOME/autostart/com.corvata.lumenor.desktop.
namespace LoginItem {

/// Where the entry lives and which program it starts.
struct Context {
    /// The autostart folder: $XDG_CONFIG_HOME/autostart, or ~/.config/autostart when that is
    /// unset or not absolute.
    std::filesystem::path autostartDirectory;
    /// The absolute path of the app's executable.
    std::filesystem::path executable;

    /// The running process's autostart folder and executable.
    static Context current();
};

/// autostartDirectory + "com.corvata.lumenor.desktop".
std::filesystem::path entryPath(const Context& context);

/// The entry's text for `executable`, or none when the path cannot be written in a desktop
/// entry (it holds a control character).
std::optional<std::string> entryText(const std::filesystem::path& executable);

/// `executable` as one Exec= argument: quoted, escaped for the command line and then for a
/// string value, with "%" doubled.
std::string quotedExec(const std::string& executable);

/// The program an Exec= value starts (its first argument, unquoted and unescaped); none when
/// the value is malformed.
std::optional<std::string> execProgram(const std::string& value);

/// Writes (true) or removes (false) the autostart entry. None on success, else the system's
/// description of the failure.
std::optional<std::string> set(bool enabled, const Context& context = Context::current());

/// The entry exists, is not hidden and starts this copy of the app.
bool isEnabled(const Context& context = Context::current());

} // namespace LoginItem
