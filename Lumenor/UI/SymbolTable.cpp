#include "Lumenor/UI/SymbolTable.h"

#include <QDir>
#include <QHash>
#include <QPainter>
#include <QPixmapCache>
#include <QStandardPaths>

namespace {

// Chosen among the symbolic icons of Adwaita 43 for the meaning of each symbol.
const QHash<QString, QString>& table() {
    static const QHash<QString, QString> names{
        {"sun.max.fill", "weather-clear-symbolic"},
        {"moon.fill", "weather-clear-night-symbolic"},
        {"moon.zzz.fill", "preferences-desktop-screensaver-symbolic"},
        {"laptopcomputer", "input-touchpad-symbolic"},
        {"infinity", "media-playlist-repeat-symbolic"},
        {"timer", "alarm-symbolic"},
        {"clock", "preferences-system-time-symbolic"},
        {"calendar", "x-office-calendar-symbolic"},
        {"macwindow", "preferences-desktop-apps-symbolic"},
        {"arrow.down.circle", "folder-download-symbolic"},
        {"chevron.right", "pan-end-symbolic"},
        {"display", "video-display-symbolic"},
        {"slider.horizontal.3", "emblem-system-symbolic"},
        {"antenna.radiowaves.left.and.right", "network-wireless-symbolic"},
        {"terminal", "utilities-terminal-symbolic"},
        {"trash", "user-trash-symbolic"},
        {"power", "system-shutdown-symbolic"},
        {"bolt.fill", "battery-full-charging-symbolic"},
        {"battery.0percent", "battery-level-0-symbolic"},
        {"battery.25percent", "battery-level-20-symbolic"},
        {"battery.50percent", "battery-level-50-symbolic"},
        {"battery.75percent", "battery-level-70-symbolic"},
        {"battery.100percent", "battery-level-100-symbolic"},
        {"cup.and.heat.waves.fill", "display-brightness-symbolic"},
        {"cup.and.heat.waves", "weather-clear-symbolic"},
        {"bolt.horizontal.circle", "thunderbolt-symbolic"},
        {"cup.and.saucer", "weather-clear-night-symbolic"},
    };
    return names;
}

QColor defaultInk(bool dark) {
    return dark ? QColor(236, 236, 238) : QColor(29, 29, 31);
}

} // namespace

namespace SymbolTable {

QString iconName(const QString& symbol) {
    return table().value(symbol);
}

QStringList symbols() {
    QStringList result = table().keys();
    result.sort();
    return result;
}

QPixmap tinted(const QPixmap& source, const QColor& color) {
    if (source.isNull()) {
        return {};
    }
    QImage image = source.toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&image);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(image.rect(), color);
    painter.end();
    QPixmap result = QPixmap::fromImage(image);
    result.setDevicePixelRatio(source.devicePixelRatio());
    return result;
}

QPixmap pixmap(const QString& symbol, const QColor& color, int size, qreal devicePixelRatio) {
    const QString name = iconName(symbol);
    if (name.isEmpty() || size <= 0) {
        return {};
    }
    ensureTheme();
    const QString key = QStringLiteral("lumenor-symbol:%1:%2:%3:%4")
                            .arg(name, color.name(QColor::HexArgb))
                            .arg(size)
                            .arg(devicePixelRatio);
    QPixmap cached;
    if (QPixmapCache::find(key, &cached)) {
        return cached;
    }
    const QIcon source = QIcon::fromTheme(name);
    if (source.isNull()) {
        return {};
    }
    cached = tinted(source.pixmap(QSize(size, size), devicePixelRatio), color);
    QPixmapCache::insert(key, cached);
    return cached;
}

QIcon icon(const QString& symbol, bool dark) {
    QIcon result;
    for (const int size : {16, 22, 32, 48}) {
        for (const qreal ratio : {1.0, 2.0}) {
            const QPixmap image = pixmap(symbol, defaultInk(dark), size, ratio);
            if (!image.isNull()) {
                result.addPixmap(image);
            }
        }
    }
    return result;
}

void ensureTheme() {
    static bool done = false;
    if (done) {
        return;
    }
    done = true;
    // Without a desktop's platform theme (offscreen, minimal) Qt searches only its resources.
    QStringList paths = QIcon::themeSearchPaths();
    QStringList folders{QDir::homePath() + QStringLiteral("/.icons")};
    for (const QString& data :
         QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation)) {
        folders << data + QStringLiteral("/icons");
    }
    for (const QString& folder : folders) {
        if (!paths.contains(folder) && QDir(folder).exists()) {
            paths << folder;
        }
    }
    QIcon::setThemeSearchPaths(paths);
    QIcon::setFallbackThemeName(QStringLiteral("Adwaita"));
    const QString current = QIcon::themeName();
    if (current.isEmpty() || current == QLatin1String("hicolor")) {
        QIcon::setThemeName(QStringLiteral("Adwaita"));
    }
}

} // namespace SymbolTable
