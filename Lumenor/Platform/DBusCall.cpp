#include "Lumenor/Platform/DBusCall.h"

namespace DBusCall {

namespace {

QDBusMessage methodCall(const QString& service, const QString& path, const QString& interface,
                        const QString& method, const QList<QVariant>& arguments) {
    QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
    message.setArguments(arguments);
    return message;
}

QDBusMessage callWaiting(const QDBusConnection& bus, const QDBusMessage& message, int timeoutMs) {
    if (!bus.isConnected()) {
        return message.createErrorReply(QDBusError::Disconnected,
                                        QStringLiteral("No D-Bus connection."));
    }
    return bus.call(message, QDBus::Block, timeoutMs);
}

} // namespace

QDBusMessage call(const QDBusConnection& bus, const QString& service, const QString& path,
                  const QString& interface, const QString& method, const QList<QVariant>& arguments,
                  int timeoutMs) {
    return callWaiting(bus, methodCall(service, path, interface, method, arguments), timeoutMs);
}

QDBusMessage callRunning(const QDBusConnection& bus, const QString& service, const QString& path,
                         const QString& interface, const QString& method,
                         const QList<QVariant>& arguments) {
    QDBusMessage message = methodCall(service, path, interface, method, arguments);
    message.setAutoStartService(false);
    return callWaiting(bus, message, defaultTimeoutMs);
}

bool isMissingService(const QDBusMessage& reply) {
    const QString name = reply.errorName();
    return reply.type() == QDBusMessage::ErrorMessage &&
           (name == QStringLiteral("org.freedesktop.DBus.Error.ServiceUnknown") ||
            name == QStringLiteral("org.freedesktop.DBus.Error.NameHasNoOwner") ||
            name == QStringLiteral("org.freedesktop.DBus.Error.Disconnected") ||
            name == QStringLiteral("org.freedesktop.DBus.Error.NoServer"));
}

void send(const QDBusConnection& bus, const QString& service, const QString& path,
          const QString& interface, const QString& method, const QList<QVariant>& arguments) {
    if (!bus.isConnected()) {
        return;
    }
    QDBusMessage message = methodCall(service, path, interface, method, arguments);
    message.setAutoStartService(false);
    bus.send(message);
}

QString errorText(const QDBusMessage& reply) {
    const QString text = reply.errorMessage();
    return text.isEmpty() ? reply.errorName() : text;
}

} // namespace DBusCall
