#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QString>
#include <QStringList>

/// Our names for the symbols the panel draws; the code names them through these, so that a
/// misspelt one does not compile.
namespace Symbol {
inline const QString sun = QStringLiteral("sun");
inline const QString moon = QStringLiteral("moon");
inline const QString sleep = QStringLiteral("sleep");
inline const QString laptop = QStringLiteral("laptop");
inline const QString infinity = QStringLiteral("infinity");
inline const QString timer = QStringLiteral("timer");
inline const QString clock = QStringLiteral("clock");
inline const QString calendar = QStringLiteral("calendar");
inline const QString appWindow = QStringLiteral("app-window");
inline const QString download = QStringLiteral("download");
inline const QString disclosure = QStringLiteral("disclosure");
inline const QString display = QStringLiteral("display");
inline const QString settings = QStringLiteral("settings");
inline const QString signal = QStringLiteral("signal");
inline const QString terminal = QStringLiteral("terminal");
inline const QString trash = QStringLiteral("trash");
inline const QString power = QStringLiteral("power");
inline const QString charging = QStringLiteral("charging");
inline const QString battery0 = QStringLiteral("battery-0");
inline const QString battery25 = QStringLiteral("battery-25");
inline const QString battery50 = QStringLiteral("battery-50");
inline const QString battery75 = QStringLiteral("battery-75");
inline const QString battery100 = QStringLiteral("battery-100");
} // namespace Symbol

/// The one place where our symbol names meet the icons of the desktop: each maps to a symbolic
/// icon of the Adwaita theme, drawn in the colour of the text around it.
namespace SymbolTable {

/// The theme icon name for `symbol`; empty for a symbol without an icon.
QString iconName(const QString& symbol);

/// Every symbol that has an icon.
QStringList symbols();

/// The icon for `symbol` in the text colour of a light or dark panel; a null icon when the
/// symbol has none or the theme lacks it.
QIcon icon(const QString& symbol, bool dark);

/// `symbol` at `size` device-independent pixels painted in `color`; null when there is no
/// image.
QPixmap pixmap(const QString& symbol, const QColor& color, int size, qreal devicePixelRatio = 1);

/// Any image (an application's icon) recoloured to `color`, keeping its shape.
QPixmap tinted(const QPixmap& source, const QColor& color);

/// Makes the Adwaita icons reachable: they become the fallback theme, and the theme itself
/// when the platform names none. Idempotent; needs a QGuiApplication.
void ensureTheme();

} // namespace SymbolTable
