#pragma once

#include <string>

/// Draws the panel's content into a PNG without showing anything on screen, for the app's
/// --snapshot switch.
namespace Snapshot {

/// Renders the menu view in its first state (collapsed, login item and agent access off) for
/// the shared controller, which is not started, over an opaque background of the dark or light
/// panel, and writes it to `path`, replacing a file there. Silent: when anything fails there
/// is no new file and no message. Main thread, with a QApplication.
void render(const std::string& path, bool dark);

} // namespace Snapshot
