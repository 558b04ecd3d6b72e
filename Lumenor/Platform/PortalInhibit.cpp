// The desktop portal's inhibitor: desktops whose own idle-suspend does not consult logind's
// inhibitors of the same user (GNOME's among them) consult this one. It lasts until the request
// object the portal returns is closed. A handle alone proves nothing: the portal hands it out
// before its backend has answered, and a backend that refuses (GNOME's gtk one without GNOME's
// session manager, KDE's without a power manager) answers with a non-zero Response on that
// request.
#include "Lumenor/Platform/DBusCall.h"
#include "Lumenor/Platform/InhibitorSet.h"

#include <QDBusObjectPath>
#include <QThread>
#include <QVariantMap>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>

namespace {

const QString inhibitInterface = QStringLiteral("org.freedesktop.portal.Inhibit");
const QString requestInterface = QStringLiteral("org.freedesktop.portal.Request");

} // namespace

/// Hears every Response of the portal's requests, on a thread of its own: a take on any thread
/// can then wait for its backend's answer, which comes a moment after the handle.
class PortalResponses : public QObject {
    Q_OBJECT

public:
    static PortalResponses& shared() {
        static PortalResponses* const listener = [] {
            auto* thread = new QThread;
            thread->setObjectName(QStringLiteral("portal-responses"));
            thread->start();
            auto* made = new PortalResponses;
            made->moveToThread(thread);
            // Any path: older portals ignore the handle token, so the path is known only after
            // the reply, by which time the Response may have been sent. Connected from the
            // listener's own thread: QtDBus delivers there only what was connected there.
            QMetaObject::invokeMethod(
                made,
                [made] {
                    QDBusConnection::sessionBus().connect(
                        DBusCall::portalService, QString(), requestInterface,
                        QStringLiteral("Response"), made,
                        SLOT(response(uint, QVariantMap, QDBusMessage)));
                },
                Qt::BlockingQueuedConnection);
            return made;
        }();
        return *listener;
    }

    /// The code the portal answered the request at `path` with, waiting up to `wait` for it.
    std::optional<uint> answer(const QString& path, std::chrono::milliseconds wait) {
        std::unique_lock lock(mutex_);
        answered_.wait_for(lock, wait, [&] { return codes_.contains(path); });
        const auto found = codes_.find(path);
        return found != codes_.end() ? std::optional(found->second) : std::nullopt;
    }

    /// Whether the portal has answered the request at `path` with a refusal (a non-zero code).
    bool refused(const QString& path) {
        const auto code = answer(path, std::chrono::milliseconds(0));
        return code && *code != 0;
    }

    void forget(const QString& path) {
        const std::lock_guard lock(mutex_);
        codes_.erase(path);
    }

public slots:
    void response(uint code, const QVariantMap&, const QDBusMessage& message) {
        {
            const std::lock_guard lock(mutex_);
            codes_[message.path()] = code;
        }
        answered_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable answered_;
    std::map<QString, uint> codes_;
};

namespace {

/// The backend answers an inhibition at once; one that takes longer is heard when it answers.
constexpr std::chrono::milliseconds answerWait{1000};

/// Where the portal puts the request made with `token` (portals that honour the token).
QString requestPath(const QString& token) {
    QString sender = QDBusConnection::sessionBus().baseService().mid(1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    return QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token);
}

class PortalInhibit final : public Inhibitor {
public:
    explicit PortalInhibit(uint32_t flags) : flags_(flags) {}

    std::string name() const override { return "portal"; }

    std::optional<std::string> take(const std::string& reason) override {
        static std::atomic<unsigned> takes{0};
        PortalResponses& responses = PortalResponses::shared();
        const QString token = QStringLiteral("lumenor%1").arg(++takes);
        // A request path can come again: its old answer is void.
        responses.forget(requestPath(token));
        // No parent window: the app asks for itself, not for one of its windows.
        const QVariantMap options{{QStringLiteral("reason"), QString::fromStdString(reason)},
                                  {QStringLiteral("handle_token"), token}};
        const QDBusMessage reply = DBusCall::call(
            QDBusConnection::sessionBus(), DBusCall::portalService, DBusCall::portalPath,
            inhibitInterface, QStringLiteral("Inhibit"), {QString(), flags_, options});
        const QString handle = reply.arguments().value(0).value<QDBusObjectPath>().path();
        if (reply.type() != QDBusMessage::ReplyMessage || handle.isEmpty()) {
            return Inhibitors::describe(QStringLiteral("The desktop portal"),
                                        "no desktop portal (xdg-desktop-portal) on the session bus",
                                        reply);
        }
        // The handle comes before the backend's answer; a refusal ends the request there.
        if (const auto code = responses.answer(handle, answerWait); code && *code != 0) {
            responses.forget(handle);
            return "the desktop portal's backend refused the inhibition (response " +
                   std::to_string(*code) + ")";
        }
        handle_ = handle;
        return std::nullopt;
    }

    bool holds() const override {
        return !handle_.isEmpty() && !PortalResponses::shared().refused(handle_);
    }

    void give() override {
        DBusCall::send(QDBusConnection::sessionBus(), DBusCall::portalService, handle_,
                       requestInterface, QStringLiteral("Close"));
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
