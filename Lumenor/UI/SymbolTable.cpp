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
        {Symbol::sun, "weather-clear-symbolic"},
        {Symbol::moon, "weather-clear-night-symbolic"},
        {Symbol::sleep, "preferences-desktop-screensaver-symbolic"},
        {Symbol::laptop, "input-touchpad-symbolic"},
        {Symbol::infinity, "media-playlist-repeat-symbolic"},
        {Symbol::timer, "alarm-symbolic"},
        {Symbol::clock, "preferences-system-time-symbolic"},
        {Symbol::calendar, "x-office-calendar-symbolic"},
        {Symbol::appWindow, "preferences-desktop-apps-symbolic"},
        {Symbol::download, "folder-download-symbolic"},
        {Symbol::disclosure, "pan-end-symbolic"},
        {Symbol::display, "video-display-symbolic"},
        {Symbol::settings, "emblem-system-symbolic"},
        {Symbol::signal, "network-wireless-symbolic"},
        {Symbol::terminal, "utilities-terminal-symbolic"},
        {Symbol::trash, "user-trash-symbolic"},
        {Symbol::power, "system-shutdown-symbolic"},
        {Symbol::charging, "battery-full-charging-symbolic"},
        {Symbol::battery0, "battery-level-0-symbolic"},
        {Symbol::battery25, "battery-level-20-symbolic"},
        {Symbol::battery50, "battery-level-50-symbolic"},
        {Symbol::battery75, "battery-level-70-symbolic"},
        {Symbol::battery100, "battery-level-100-symbolic"},
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
