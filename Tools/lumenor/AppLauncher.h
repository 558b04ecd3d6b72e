#pragma once

#include <optional>
#include <string>

/// Starts the app for a command that found none running, so that asking for something works
/// from an SSH session, a fresh boot or an agent's sandbox just as from a desktop.
namespace AppLauncher {

/// How long a started app has to open its socket: it does so well within a second.
inline constexpr double socketWaitSeconds = 5;

/// Whether the environment forbids starting the app (LUMENOR_NO_START=1).
bool forbiddenByEnvironment();

/// The app beside this command (bin/lumenor-app in the build and installed trees, or
/// libexec/lumenor/lumenor-app); none when there is none.
std::optional<std::string> appPath();

/// Starts the app detached from this process (its own session, standard streams on
/// /dev/null; it picks a headless mode itself when there is no display), then waits until
/// `socketPath` accepts a connection. None once it does; else why it did not, for a person.
std::optional<std::string> start(const std::string& socketPath);

/// The line that tells a person how to start the app by hand.
std::string howToStart();

} // namespace AppLauncher
