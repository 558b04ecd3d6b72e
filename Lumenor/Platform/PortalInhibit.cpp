// The desktop portal's inhibitor: desktops whose own idle-suspend does not consult logind's
// inhibitors of the same user (GNOME's among them) consult this one. It lasts until the request
// object the portal returns is closed. A handle alone proves nothing: the portal hands it out
// before its backend has answered, and a backend that refuses (GNOME's without its session
// manager, KDE's without a power manager) answers with a non-zero Response on that request.
#include "Lumenor/Platform/DBusCall.h"
#include "Lumenor/Platform/InhibitorSet.h"

#include <QDBusObjectPath>
#include <QVariantMap>

#include <atomic>
#include <map>
#include <mutex>

namespace {

const QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString inhibitInterface = QStringLiteral("org.freedesktop.portal.Inhibit");
const QString requestInterface = QStringLiteral("org.freedesktop.portal.Request");

} // namespace

/// Hears every Response of the portal's requests. QtDBus hands signals over through the main
/// loop, so a refusal is known a moment after the take, not during it: a refused request stops
/// counting as held when it arrives.
class PortalResponses : public QObject {
    Q_OBJECT

public:
    static PortalResponses& shared() {
        static PortalResponses* const listener = [] {
            auto* made = new PortalResponses;
            // Any path: older portals ignore the handle token, so the path is known only after
            // the reply, by which time the Response may have been sent.
            QDBusConnection::sessionBus().connect(portalService, QString(), requestInterface,
                                                  QStringLiteral("Response"), made,
                                                  SLOT(response(uint, QVariantMap, QDBusMessage)));
            return made;
        }();
        return *listener;
    }

    /// Whether the portal has answered the request at `path` with a refusal (a non-zero code).
    bool refused(const QString& path) const {
        const std::lock_guard lock(mutex_);
        const auto found = codes_.find(path);
        return found != codes_.end() && found->second != 0;
    }

    void forget(const QString& path) {
        const std::lock_guard lock(mutex_);
        codes_.erase(path);
    }

public slots:
    void response(uint code, const QVariantMap&, const QDBusMessage& message) {
        const std::lock_guard lock(mutex_);
        codes_[message.path()] = code;
    }

private:
    mutable std::mutex mutex_;
    std::map<QString, uint> codes_;
};

namespace {

class PortalInhibit final : public Inhibitor {
public:
    explicit PortalInhibit(uint32_t flags) : flags_(flags) {}

    std::string name() const override { return "portal"; }

    std::optional<std::string> take(const std::string& reason) override {
        static std::atomic<unsigned> takes{0};
        PortalResponses& responses = PortalResponses::shared();
        // No parent window: the app asks for itself, not for one of its windows.
        const QVariantMap options{
            {QStringLiteral("reason"), QString::fromStdString(reason)},
            {QStringLiteral("handle_token"), QStringLiteral("lumenor%1").arg(++takes)}};
        const QDBusMessage reply = DBusCall::callRunning(
            QDBusConnection::sessionBus(), portalService, portalPath, inhibitInterface,
            QStringLiteral("Inhibit"), {QString(), flags_, options});
        const QString handle = reply.arguments().value(0).value<QDBusObjectPath>().path();
        if (reply.type() != QDBusMessage::ReplyMessage || handle.isEmpty()) {
            return Inhibitors::describe(QStringLiteral("The desktop portal"),
                                        "no desktop portal (xdg-desktop-portal) on the session bus",
                                        reply);
        }
        // A request path can come again (a portal that ignores the token): its old answer is void.
        responses.forget(handle);
        handle_ = handle;
        return std::nullopt;
    }

    bool holds() const override {
        return !handle_.isEmpty() && !PortalResponses::shared().refused(handle_);
    }

    void give() override {
        DBusCall::send(QDBusConnection::sessionBus(), portalService, handle_, requestInterface,
                       QStringLiteral("Close"));
        PortalResponses::shared().forget(handle_);
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

#include "PortalInhibit.moc"
