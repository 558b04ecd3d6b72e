#include "Lumenor/Platform/DBusCall.h"

#include "LumenorCore/UnixSocket.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <mutex>
#include <optional>

#include <sys/socket.h>
#include <unistd.h>

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

/// The socket of a "unix:path=…" or "unix:abstract=…" address, if that is what it names.
std::optional<sockaddr_un> unixSocket(const QString& address) {
    const QString first = address.section(QLatin1Char(';'), 0, 0);
    if (!first.startsWith(QLatin1String("unix:")))
        return std::nullopt;
    for (const QString& pair : first.mid(5).split(QLatin1Char(','))) {
        const QString key = pair.section(QLatin1Char('='), 0, 0);
        // Values are percent-escaped.
        const QByteArray value =
            QByteArray::fromPercentEncoding(pair.section(QLatin1Char('='), 1).toLatin1());
        if ((key != QLatin1String("path") && key != QLatin1String("abstract")) || value.isEmpty() ||
            std::size_t(value.size()) >= sizeof(sockaddr_un::sun_path))
            continue;
        sockaddr_un socket{};
        socket.sun_family = AF_UNIX;
        // An abstract name starts with a NUL byte.
        const std::size_t offset = key == QLatin1String("abstract") ? 1 : 0;
        std::memcpy(socket.sun_path + offset, value.constData(),
                    std::min(std::size_t(value.size()), sizeof socket.sun_path - 1 - offset));
        return socket;
    }
    return std::nullopt;
}

} // namespace

bool answers(const QString& address, std::chrono::milliseconds wait) {
    const auto socket = unixSocket(address);
    if (!socket)
        return true;
    const auto deadline = std::chrono::steady_clock::now() + wait;
    UnixSocket::Descriptor fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    UnixSocket::setTimeouts(fd.get(), std::chrono::ceil<std::chrono::seconds>(wait));
    const std::size_t length = socket->sun_path[0] == '\0' ? offsetof(sockaddr_un, sun_path) + 1 +
                                                                 std::strlen(socket->sun_path + 1)
                                                           : sizeof *socket;
    if (fd.get() < 0 ||
        ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&*socket), socklen_t(length)) != 0)
        return true; // nothing listens: QtDBus fails at once, and says so itself
    // The first words of a client: a NUL byte, then asking to be taken for this user.
    const std::string auth = std::string(1, '\0') + "AUTH EXTERNAL " +
                             QByteArray::number(::getuid()).toHex().toStdString() + "\r\n";
    return UnixSocket::writeAll(fd.get(), auth) &&
           UnixSocket::readLine(fd.get(), deadline).end == UnixSocket::LineEnd::lineFeed;
}

QDBusConnection systemBus() {
    static std::once_flag probed;
    static bool talks = true;
    std::call_once(probed, [] {
        const QString address = qEnvironmentVariableIsSet("DBUS_SYSTEM_BUS_ADDRESS")
                                    ? qEnvironmentVariable("DBUS_SYSTEM_BUS_ADDRESS")
                                    : QStringLiteral("unix:path=/var/run/dbus/system_bus_socket");
        talks = answers(address, std::chrono::seconds(2));
        if (!talks)
            qWarning("Lumenor: the system bus at %s does not answer; going on without it, so "
                     "logind and polkit cannot be reached.",
                     qPrintable(address));
    });
    return talks ? QDBusConnection::systemBus()
                 : QDBusConnection(QStringLiteral("lumenor-unanswering-system-bus"));
}

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
