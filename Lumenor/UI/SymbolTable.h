#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QString>
#include <QStringList>

/// The one place where the symbol names the panel and the tray use ("moon.zzz.fill") meet the
/// icons of the desktop: each maps to a symbolic icon of the Adwaita theme, drawn in the
/// colour of the text around it.
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
