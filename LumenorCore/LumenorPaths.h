#pragma once

#include <filesystem>
#include <string>

/// Every well-known place and identifier, computed on each use so that the app, the command and
/// the install scripts agree. Nothing here creates a file or a directory.
namespace LumenorPaths {

/// The user's home from the account database, or `LUMENOR_HOME` when that is set and not empty
/// (for tests and sandboxes only).
std::filesystem::path homeDirectory();

/// home + "Library/Application Support/Lumenor".
std::filesystem::path supportDirectory();
/// supportDirectory + "lumenor.sock".
std::string socketPath();
/// supportDirectory + "state.json" (reserved; the app neither reads nor writes it).
std::filesystem::path stateFile();
/// supportDirectory + "lumenor.log".
std::filesystem::path logFile();

inline const std::string sudoersPath = "/etc/sudoers.d/lumenor";
inline const std::string pmset = "/usr/bin/pmset";
inline const std::string bundleIdentifier = "com.corvata.lumenor";

} // namespace LumenorPaths
