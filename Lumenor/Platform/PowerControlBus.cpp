// Assertions, display wake and system sleep over D-Bus: logind on the system bus, the screen
// saver on the session bus. Every call has a short time-out; a missing bus or service makes the
// operation fail the way PowerControl defines, never the app.
#include "Lumenor/Platform/DBusCall.h"
#include "Lumenor/Platform/PowerControl.h"

#include <QDBusUnixFileDescriptor>

#include <atomic>
#include <fcntl.h>
#include <unistd.h>

namespace PowerControl {

namespace {

const QString applicationName = QStringLiteral("Lumenor");

/// Assertion ids only need to be non-zero and distinct; the system's own handles (a descriptor,
/// a cookie that may legitimately be 0) are kept beside them.
uint32_t nextAssertionId() {
    static std::atomic<uint32_t> counter{0};
    uint32_t id = ++counter;
    while (id == 0) {
        id = ++counter;
    }
    return id;
}

/// Holds a logind "sleep:idle" block inhibitor: the inhibitor lasts exactly as long as the
/// descriptor logind handed us stays open. Like every assertion, destroying it does not release
/// it; the descriptor then stays open until the process ends.
class LogindInhibitAssertion final : public Assertion {
public:
    using Assertion::Assertion;

protected:
    uint32_t acquire() override {
        const QDBusMessage reply =
            DBusCall::call(QDBusConnection::systemBus(), DBusCall::logindService,
                           DBusCall::logindPath, DBusCall::logindManager, QStringLiteral("Inhibit"),
                           {QStringLiteral("sleep:idle"), applicationName,
                            QString::fromStdString(reason()), QStringLiteral("block")});
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
            return 0;
        }
        const auto descriptor = reply.arguments().constFirst().value<QDBusUnixFileDescriptor>();
        // Our own duplicate, so no Qt copy of the reply can keep the inhibitor alive.
        fd_ = descriptor.isValid() ? fcntl(descriptor.fileDescriptor(), F_DUPFD_CLOEXEC, 3) : -1;
        return fd_ < 0 ? 0 : nextAssertionId();
    }

    void release(uint32_t) override {
        if (fd_ >= 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }

private:
    int fd_ = -1;
};

/// Holds a screen-saver inhibit cookie; released with UnInhibit on the path that granted it.
class ScreenSaverAssertion final : public Assertion {
public:
    using Assertion::Assertion;

protected:
    uint32_t acquire() override {
        const QDBusConnection bus = QDBusConnection::sessionBus();
        for (const QString& path : DBusCall::screenSaverPaths) {
            const QDBusMessage reply = DBusCall::call(
                bus, DBusCall::screenSaverService, path, DBusCall::screenSaverInterface,
                QStringLiteral("Inhibit"), {applicationName, QString::fromStdString(reason())});
            if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()) {
                cookie_ = reply.arguments().constFirst().toUInt();
                path_ = path;
                return nextAssertionId();
            }
            if (!worthTryingNextPath(reply)) {
                return 0;
            }
        }
        return 0;
    }

    void release(uint32_t) override {
        DBusCall::send(QDBusConnection::sessionBus(), DBusCall::screenSaverService, path_,
                       DBusCall::screenSaverInterface, QStringLiteral("UnInhibit"), {cookie_});
    }

private:
    /// Only an answer saying "not here" makes the other path worth asking; a missing service
    /// or a time-out would only repeat itself.
    static bool worthTryingNextPath(const QDBusMessage& reply) {
        const QString name = reply.errorName();
        return name == QStringLiteral("org.freedesktop.DBus.Error.UnknownObject") ||
               name == QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod") ||
               name == QStringLiteral("org.freedesktop.DBus.Error.UnknownInterface");
    }

    uint32_t cookie_ = 0;
    QString path_;
};

} // namespace

std::unique_ptr<Assertion> makeAssertion(const std::string& type, const std::string& reason) {
    if (type == displayAssertionType) {
        return std::make_unique<ScreenSaverAssertion>(type, reason);
    }
    return std::make_unique<LogindInhibitAssertion>(type, reason);
}

void wakeDisplay() {
    const QDBusConnection bus = QDBusConnection::sessionBus();
    for (const QString& path : DBusCall::screenSaverPaths) {
        DBusCall::send(bus, DBusCall::screenSaverService, path, DBusCall::screenSaverInterface,
                       QStringLiteral("SimulateUserActivity"));
    }
}

RunResult sleepNow() {
    const QDBusMessage reply =
        DBusCall::call(QDBusConnection::systemBus(), DBusCall::logindService, DBusCall::logindPath,
                       DBusCall::logindManager, QStringLiteral("Suspend"), {false});
    if (reply.type() == QDBusMessage::ReplyMessage) {
        return {0, ""};
    }
    return {1, "Couldn't suspend: " + DBusCall::errorText(reply).toStdString()};
}

} // namespace PowerControl
