// The screen saver's inhibitor keeps the display lit; released with UnInhibit on the path
// that granted it.
#include "Lumenor/Platform/DBusCall.h"
#include "Lumenor/Platform/InhibitorSet.h"

namespace {

/// Only an answer saying "not here" makes the other path worth asking; a missing service or a
/// time-out would only repeat itself.
bool worthTryingNextPath(const QDBusMessage& reply) {
    const QString name = reply.errorName();
    return name == QStringLiteral("org.freedesktop.DBus.Error.UnknownObject") ||
           name == QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod") ||
           name == QStringLiteral("org.freedesktop.DBus.Error.UnknownInterface");
}

class ScreenSaverInhibit final : public Inhibitor {
public:
    std::string name() const override { return "screensaver"; }

    std::optional<std::string> take(const std::string& reason) override {
        const QDBusConnection bus = QDBusConnection::sessionBus();
        QDBusMessage reply;
        for (const QString& path : DBusCall::screenSaverPaths) {
            reply =
                DBusCall::callRunning(bus, DBusCall::screenSaverService, path,
                                      DBusCall::screenSaverInterface, QStringLiteral("Inhibit"),
                                      {QStringLiteral("Lumenor"), QString::fromStdString(reason)});
            if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()) {
                // The cookie may legitimately be 0.
                cookie_ = reply.arguments().constFirst().toUInt();
                path_ = path;
                return std::nullopt;
            }
            if (!worthTryingNextPath(reply)) {
                break;
            }
        }
        return Inhibitors::describe(QStringLiteral("The screen saver"),
                                    "no screen saver service on the session bus", reply);
    }

    void give() override {
        DBusCall::send(QDBusConnection::sessionBus(), DBusCall::screenSaverService, path_,
                       DBusCall::screenSaverInterface, QStringLiteral("UnInhibit"), {cookie_});
    }

private:
    uint32_t cookie_ = 0;
    QString path_;
};

} // namespace

std::unique_ptr<Inhibitor> Inhibitors::screenSaver() {
    return std::make_unique<ScreenSaverInhibit>();
}
