#pragma once

#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

/// Every well-known place and identifier, so that the app, the command and the install scripts
/// agree. The places are computed on each use; only the functions that say so create anything.
namespace LumenorPaths {

/// `LUMENOR_HOME` when set and not empty (for tests and sandboxes), else `$HOME` when set and not
/// empty (as Qt and GLib take it, so that every part agrees), else the account database's home.
std::filesystem::path homeDirectory();

/// $XDG_STATE_HOME + "lumenor" when that variable is an absolute path, else
/// home + ".local/state/lumenor".
std::filesystem::path supportDirectory();
/// supportDirectory + "lumenor.sock".
std::string socketPath();
/// supportDirectory + "state.json": the keep-awake session, so that it outlives a restart.
std::filesystem::path stateFile();
/// supportDirectory + "lumenor.log".
std::filesystem::path logFile();
/// supportDirectory + "lumenor.lock": whoever holds a lock on it is the one serving app.
std::filesystem::path lockFile();
/// $XDG_CONFIG_HOME (when absolute, else home + ".config") + "Lumenor/Lumenor.conf": the file
/// in which Qt keeps the settings of organisation and application "Lumenor", in INI form.
std::filesystem::path settingsFile();
/// home + "Library/Application Support/Lumenor", where earlier versions kept the log and state.
std::filesystem::path legacySupportDirectory();

/// Creates `directory` and its missing parents owner-only (0700) whatever the umask, and makes
/// an existing `directory` owner-only. Throws std::filesystem::filesystem_error naming the path
/// that failed and why (ENOTDIR when a file stands where a folder should be; a code that
/// describeFailure words "it belongs to another user" when another user owns it).
void createPrivateDirectory(const std::filesystem::path& directory);
/// Creates `file` empty and owner-only (0600) in a private folder unless it exists, and makes an
/// existing one owner-only; refuses one another user owns. Throws like createPrivateDirectory.
void createPrivateFile(const std::filesystem::path& file);
/// Opens `file` with `flags` (O_CREAT makes it 0600) only as a regular file: never through a
/// symbolic link (ELOOP) and never waiting on a FIFO or a device (ENXIO); a file of ours that
/// others may read or write is made owner-only. The descriptor, or -1
/// with errno set.
int openRegularFile(const std::filesystem::path& file, int flags);
/// A sentence fragment for people: why `error` (from the two functions above or from a system
/// call on `path`) kept Lumenor from using a place, e.g. "a file is in the way".
std::string describeFailure(const std::error_code& error);

/// Moves the log and state of legacySupportDirectory into supportDirectory, the old log ahead of
/// any new one, and removes the old folders that are left empty. Returns one line per thing that
/// could not be moved; nothing is deleted that was not copied first.
std::vector<std::string> migrateLegacySupport();

inline const std::string sudoersPath = "/etc/sudoers.d/lumenor";
inline const std::string desktopId = "com.corvata.lumenor";

} // namespace LumenorPaths
