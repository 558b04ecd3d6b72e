#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

/// What the app needs of one installed application's desktop entry.
struct DesktopEntry {
    /// The desktop-file id: the path below "applications/" with "/" turned into "-".
    std::string id;
    /// Name=, in the best translation for the locale.
    std::string name;
    /// Icon=, empty when absent.
    std::string icon;
    /// The file name of the program Exec= starts, e.g. "gnome-terminal-server".
    std::string program;
    /// Shown in menus: not NoDisplay=true, not Hidden=true and not run in a terminal.
    bool isRegular = true;
    bool operator==(const DesktopEntry&) const = default;
};

namespace DesktopEntries {

/// Parses the text of a desktop entry. Nothing when it is not an application or lacks Name=
/// or Exec=. `locale` is a POSIX locale name such as "de_DE.UTF-8@euro"; empty means none.
std::optional<DesktopEntry> parse(const std::string& text, const std::string& id,
                                  const std::string& locale);

/// The file name of the program an Exec= value runs, looking through "env VAR=value";
/// empty when there is none.
std::string execProgram(const std::string& exec);

/// The messages locale from LC_ALL, LC_MESSAGES or LANG, the first that is set.
std::string currentLocale();

/// $XDG_DATA_HOME/applications then each $XDG_DATA_DIRS/applications, with the usual defaults,
/// most important first.
std::vector<std::filesystem::path> applicationDirectories();

/// Every entry below `directories` (searched recursively); where an id occurs more than once the
/// most important directory wins. Unreadable files and folders are skipped.
std::vector<DesktopEntry> load(const std::vector<std::filesystem::path>& directories,
                               const std::string& locale);

} // namespace DesktopEntries
