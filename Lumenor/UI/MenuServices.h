#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

/// What the menu view reaches outside the controller: the login item, agent access, the file
/// dialog and the application's quit. The app passes system(); tests and the snapshot pass
/// their own.
struct MenuServices {
    std::function<bool()> loginItemEnabled;
    /// None on success, else a message for the user.
    std::function<std::optional<std::string>(bool enabled)> setLoginItem;
    std::function<bool()> agentAccessInstalled;
    /// None on success, else a message for the user.
    std::function<std::optional<std::string>()> installAgentAccess;
    /// None on success, else a message for the user.
    std::function<std::optional<std::string>()> removeAgentAccess;
    /// Asks for a file or folder to watch while it downloads; none when the user cancels.
    std::function<std::optional<std::filesystem::path>()> chooseDownload;
    std::function<void()> quit;

    /// The real login item, agent access, a file dialog and QCoreApplication::quit().
    static MenuServices system();
    /// Everything off and nothing reachable: switches read off, actions do nothing.
    static MenuServices inert();
};
