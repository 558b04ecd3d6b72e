#include "Lumenor/Platform/DBusCall.h"

namespace DBusCall {

namespace {

QDBusMessage methodCall(const QString& service, const QString& path, const QString& interface,
                        const QString& method, const QList<QVariant>& arguments) {
    QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
    message.setArguments(arguments);
    return message;
}

} // namespace

QDBusMessage call(const QDBusConnection& bus, const QString& service, const QString& path,
                  const QString& interface, const QString& method, const QList<QVariant>& arguments,
                  int timeoutMs) {
    QDBusMessage message = methodCall(service, path, interface, method, arguments);
    if (!bus.isConnected()) {
        return message.createErrorReply(QDBusError::Disconnected,
                                        QStringLiteral("No D-Bus connection."));
    }
    return bus.call(message, QDBus::Block, timeoutMs);
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
