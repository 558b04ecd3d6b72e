// The desktop portal's inhibitor: desktops whose own idle-suspend does not consult logind's
// inhibitors of the same user (GNOME's among them) consult this one. It lasts until the request
// object the portal returns is closed.
#include "Lumenor/Platform/DBusCall.h"
#include "Lumenor/Platform/InhibitorSet.h"

#include <QDBusObjectPath>
#include <QVariantMap>

namespace {

const QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString inhibitInterface = QStringLiteral("org.freedesktop.portal.Inhibit");
const QString requestInterface = QStringLiteral("org.freedesktop.portal.Request");

class PortalInhibit final : public Inhibitor {
public:
    explicit PortalInhibit(uint32_t flags) : flags_(flags) {}

    std::string name() const override { return "portal"; }

    std::optional<std::string> take(const std::string& reason) override {
        // No parent window: the app asks for itself, not for one of its windows.
        const QVariantMap options{{QStringLiteral("reason"), QString::fromStdString(reason)}};
        const QDBusMessage reply = DBusCall::callRunning(
            QDBusConnection::sessionBus(), portalService, portalPath, inhibitInterface,
            QStringLiteral("Inhibit"), {QString(), flags_, options});
        const QString handle = reply.arguments().value(0).value<QDBusObjectPath>().path();
        if (reply.type() != QDBusMessage::ReplyMessage || handle.isEmpty()) {
            return Inhibitors::describe(QStringLiteral("The desktop portal"),
                                        "no desktop portal (xdg-desktop-portal) on the session bus",
                                        reply);
        }
        handle_ = handle;
        return std::nullopt;
    }

    void give() override {
        DBusCall::send(QDBusConnection::sessionBus(), portalService, handle_, requestInterface,
                       QStringLiteral("Close"));
        handle_.clear();
    }

private:
    uint32_t flags_;
    QString handle_;
};

} // namespace

std::unique_ptr<Inhibitor> Inhibitors::portal(uint32_t flags) {
    return std::make_unique<PortalInhibit>(flags);
}
