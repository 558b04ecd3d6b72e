#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QList>
#include <QString>
#include <QVariant>

#include <chrono>

/// The few D-Bus services the platform layer speaks to, and calls that never hang the app.
namespace DBusCall {

inline const QString logindService = QStringLiteral("org.freedesktop.login1");
inline const QString logindPath = QStringLiteral("/org/freedesktop/login1");
inline const QString logindManager = QStringLiteral("org.freedesktop.login1.Manager");

inline const QString screenSaverService = QStringLiteral("org.freedesktop.ScreenSaver");
inline const QString screenSaverInterface = QStringLiteral("org.freedesktop.ScreenSaver");
/// Desktops publish the screen saver under one or both of these paths.
inline const QString screenSaverPaths[] = {QStringLiteral("/org/freedesktop/ScreenSaver"),
                                           QStringLiteral("/ScreenSaver")};

/// The desktop portal: activatable by design, so calls to it may start it (a session where
/// nothing has asked it anything yet has it installed but not running).
inline const QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");
inline const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");

/// Long enough for a busy service, short enough that a hung bus cannot freeze the app.
constexpr int defaultTimeoutMs = 3000;

/// The system bus, once it has shown that it answers: a bus that accepts a connection and then
/// says nothing would hold QtDBus, and with it every bus of the app, for D-Bus's 25 s. Such a
/// bus is given up on once, with a warning, for a connection that fails every call at once.
QDBusConnection systemBus();

/// Whether the bus at `address` (a D-Bus address; only its first entry counts) answers a
/// client's first words within `wait`. Addresses that are not Unix sockets are trusted.
bool answers(const QString& address, std::chrono::milliseconds wait);

/// Calls `method` and waits at most `timeoutMs` for the reply. A missing bus, a missing
/// service, an error reply and a time-out all give a message of type ErrorMessage.
QDBusMessage call(const QDBusConnection& bus, const QString& service, const QString& path,
                  const QString& interface, const QString& method,
                  const QList<QVariant>& arguments = {}, int timeoutMs = defaultTimeoutMs);

/// Like call, but only a service that runs already answers: the bus starts none for it, so a
/// missing optional service fails at once instead of after an activation attempt.
QDBusMessage callRunning(const QDBusConnection& bus, const QString& service, const QString& path,
                         const QString& interface, const QString& method,
                         const QList<QVariant>& arguments = {});

/// True when `reply` says the service is not on the bus (or there is no bus at all).
bool isMissingService(const QDBusMessage& reply);

/// Sends a method call and does not wait for, or look at, any answer.
void send(const QDBusConnection& bus, const QString& service, const QString& path,
          const QString& interface, const QString& method, const QList<QVariant>& arguments = {});

/// The text of an error reply, for messages shown to people.
QString errorText(const QDBusMessage& reply);

} // namespace DBusCall
