#include "Lumenor/Platform/DesktopSession.h"

#include "Lumenor/Platform/DBusCall.h"

#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QObject>

namespace {

const QString settingsInterface = QStringLiteral("org.freedesktop.portal.Settings");
const QString appearance = QStringLiteral("org.freedesktop.appearance");
const QString colorSchemeKey = QStringLiteral("color-scheme");

/// Portals before version 2 of Settings wrap the value in one more variant.
QVariant unwrapped(QVariant value) {
    while (value.canConvert<QDBusVariant>() && value.userType() == qMetaTypeId<QDBusVariant>())
        value = value.value<QDBusVariant>().variant();
    return value;
}

} // namespace

/// Hands the portal's SettingChanged signal to a function.
class ColorSchemeWatch : public QObject {
    Q_OBJECT

public:
    ColorSchemeWatch(QObject* parent, std::function<void()> changed)
        : QObject(parent), changed_(std::move(changed)) {}

public slots:
    void settingChanged(const QString& space, const QString& key, const QDBusVariant&) {
        if (space == appearance && key == colorSchemeKey)
            changed_();
    }

private:
    std::function<void()> changed_;
};

namespace DesktopSession {

std::optional<ColorScheme> colorScheme() {
    const QDBusMessage reply =
        DBusCall::call(QDBusConnection::sessionBus(), DBusCall::portalService, DBusCall::portalPath,
                       settingsInterface, QStringLiteral("Read"), {appearance, colorSchemeKey});
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return std::nullopt;
    bool number = false;
    const uint value = unwrapped(reply.arguments().front()).toUInt(&number);
    if (!number || value > 2)
        return ColorScheme::noPreference;
    return static_cast<ColorScheme>(value);
}

void watchColorScheme(QObject* receiver, std::function<void()> changed) {
    auto* watch = new ColorSchemeWatch(receiver, std::move(changed));
    QDBusConnection::sessionBus().connect(DBusCall::portalService, DBusCall::portalPath,
                                          settingsInterface, QStringLiteral("SettingChanged"),
                                          watch,
                                          SLOT(settingChanged(QString, QString, QDBusVariant)));
}

void watchTrayWatcher(QObject* receiver, std::function<void()> appeared) {
    auto* watcher = new QDBusServiceWatcher(trayWatcher, QDBusConnection::sessionBus(),
                                            QDBusServiceWatcher::WatchForRegistration, receiver);
    QObject::connect(watcher, &QDBusServiceWatcher::serviceRegistered, receiver,
                     [appeared = std::move(appeared)] { appeared(); });
}

bool trayHostRegistered() {
    const QDBusMessage reply = DBusCall::callRunning(
        QDBusConnection::sessionBus(), trayWatcher, QStringLiteral("/StatusNotifierWatcher"),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"),
        {trayWatcher, QStringLiteral("IsStatusNotifierHostRegistered")});
    return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
           unwrapped(reply.arguments().front()).toBool();
}

} // namespace DesktopSession

#include "DesktopSession.moc"
