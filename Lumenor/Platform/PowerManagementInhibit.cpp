// The power manager's inhibitor (org.freedesktop.PowerManagement), which some desktops' own
// idle-suspend consults instead of logind's; released with UnInhibit and its cookie.
#include "Lumenor/Platform/DBusCall.h"
#include "Lumenor/Platform/InhibitorSet.h"

namespace {

const QString service = QStringLiteral("org.freedesktop.PowerManagement");
const QString path = QStringLiteral("/org/freedesktop/PowerManagement/Inhibit");
const QString interface = QStringLiteral("org.freedesktop.PowerManagement.Inhibit");

class PowerManagementInhibit final : public Inhibitor {
public:
    std::string name() const override { return "power-manager"; }

    std::optional<std::string> take(const std::string& reason) override {
        const QDBusMessage reply = DBusCall::callRunning(
            QDBusConnection::sessionBus(), service, path, interface, QStringLiteral("Inhibit"),
            {QStringLiteral("Lumenor"), QString::fromStdString(reason)});
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
            return Inhibitors::describe(QStringLiteral("The power manager"),
                                        "no power manager on the session bus", reply);
        }
        cookie_ = reply.arguments().constFirst().toUInt();
        return std::nullopt;
    }

    void give() override {
        DBusCall::send(QDBusConnection::sessionBus(), service, path, interface,
                       QStringLiteral("UnInhibit"), {cookie_});
    }

private:
    uint32_t cookie_ = 0;
};

} // namespace

std::unique_ptr<Inhibitor> Inhibitors::powerManagement() {
    return std::make_unique<PowerManagementInhibit>();
}
