#pragma once

#include <QString>

#include <functional>
#include <optional>

class QObject;

/// What the desktop session says, over the session bus, about its look and its tray.
namespace DesktopSession {

/// The desktop's colour preference: the portal's org.freedesktop.appearance color-scheme.
enum class ColorScheme { noPreference = 0, dark = 1, light = 2 };

/// The preference; none where no portal answers.
std::optional<ColorScheme> colorScheme();

/// Calls `changed` on `receiver`'s thread whenever the preference changes, while it lives.
void watchColorScheme(QObject* receiver, std::function<void()> changed);

/// The name that the StatusNotifierItem watcher owns on the session bus.
inline const QString trayWatcher = QStringLiteral("org.kde.StatusNotifierWatcher");

/// Calls `appeared` on `receiver`'s thread whenever a StatusNotifierItem watcher takes its name
/// (a tray starting, late or again).
void watchTrayWatcher(QObject* receiver, std::function<void()> appeared);

/// A StatusNotifierItem host has registered with the watcher: an item registered now is shown.
bool trayHostRegistered();

} // namespace DesktopSession
