#include "Lumenor/App/AppLifecycle.h"

#include "Lumenor/App/SingleInstance.h"
#include "Lumenor/Engine/HandOff.h"
#include "Lumenor/Engine/WakeController.h"
#include "Lumenor/UI/AgentAccess.h"
#include "Lumenor/UI/StatusPanelController.h"
#include "LumenorCore/LumenorClient.h"
#include "LumenorCore/LumenorPaths.h"
#include "LumenorCore/LumenorServer.h"

#include <QApplication>
#include <QCoreApplication>
#include <QFileSystemWatcher>
#include <QMetaObject>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <functional>

namespace {

/// The main thread's receiver for every hop. It lives until the process ends; held by a static,
/// it stays reachable, so leak checks do not count it.
QObject* lifetimeReceiver() {
    static QObject* const receiver = new QObject;
    return receiver;
}

} // namespace

/// Carries requests from the server's loop to the controller on the main thread, which sends
/// each answer itself: a request costs no server thread while it waits there. The main thread
/// never waits for the server, so a quitting app cannot deadlock with it: once the hop is
/// closed, requests are answered without the controller, those already queued included.
class AppLifecycle::MainThreadHop : public std::enable_shared_from_this<MainThreadHop> {
public:
    /// Main thread only. The receiver is never deleted, so that a late request cannot be posted
    /// to an object that is already gone. "show" goes to `show`, which belongs to the app rather
    /// than to the controller; everything else to the controller.
    explicit MainThreadHop(std::function<LumenorResponse()> show)
        : receiver_(lifetimeReceiver()), show_(std::move(show)) {}

    /// The server's loop thread; returns at once.
    void dispatch(LumenorRequest request, LumenorServer::Reply reply) {
        if (closed_) {
            reply(quitting());
            return;
        }
        auto call = std::make_shared<Call>(Call{std::move(request), std::move(reply)});
        HandOff::release(call.get());
        QMetaObject::invokeMethod(
            receiver_,
            [self = shared_from_this(), call] {
                HandOff::acquire(call.get());
                // A request that cannot be answered closes its connection; it never reaches
                // the event loop, which would end the app.
                try {
                    self->answer(call->request, call->reply);
                } catch (...) {
                }
                HandOff::release(call.get());
            },
            Qt::QueuedConnection);
    }

    /// Main thread: from now on the controller is not entered; hops already queued are
    /// answered at once.
    void close() {
        closed_ = true;
        QCoreApplication::sendPostedEvents(receiver_);
    }

private:
    struct Call {
        LumenorRequest request;
        LumenorServer::Reply reply;
        // Qt may let go of the posted call on the server's thread, after the main thread is
        // done with it, under a reference count ThreadSanitizer does not see.
        ~Call() { HandOff::acquire(this); }
    };

    static LumenorResponse quitting() { return {.ok = false, .message = "Lumenor is quitting."}; }

    void answer(const LumenorRequest& request, const LumenorServer::Reply& reply) const {
        if (closed_) {
            reply(quitting());
        } else if (request.command == "show") {
            reply(show_());
        } else {
            WakeController::shared().handle(request, reply); // setup answers with its outcome
        }
    }

    QObject* const receiver_;
    const std::function<LumenorResponse()> show_;
    std::atomic<bool> closed_ = false;
};

AppLifecycle::AppLifecycle() = default;

AppLifecycle::~AppLifecycle() {
    stop();
}

AppLifecycle::ShowOutcome AppLifecycle::askToShowPanel() {
    try {
        const LumenorRequest show{.command = "show", .options = {}};
        const LumenorResponse response = LumenorClient::send(show, LumenorPaths::socketPath(), 2);
        return {.answered = true,
                .refusal = response.ok ? std::nullopt : std::optional(response.message)};
    } catch (const std::exception& error) {
        return {.answered = false, .refusal = std::string(error.what())};
    }
}

LumenorResponse AppLifecycle::showPanel() {
    WakeController& controller = WakeController::shared();
    if (!statusPanel_) {
        return {.ok = false,
                .message = "Lumenor runs without a display here, so there is no panel to show.",
                .status = controller.snapshot()};
    }
    statusPanel_->showPanel();
    return {.ok = true, .message = "Showing the panel.", .status = controller.snapshot()};
}

bool AppLifecycle::start(SingleInstance& instance) {
    started_ = true;
    instance_ = &instance;
    WakeController::shared().start();
    AgentAccess::refreshIfInstalled();
    // The tray item exists before the socket lets the first request in; without a display
    // there is no QApplication and so no tray.
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr) {
        statusPanel_ = std::make_unique<StatusPanelController>(WakeController::shared());
    }
    if (!startServer()) {
        return false;
    }
    // inotify: an idle app does not wake up to look.
    watcher_ = new QFileSystemWatcher(this);
    connect(watcher_, &QFileSystemWatcher::directoryChanged, this, &AppLifecycle::checkPlaces);
    watchSupportFolder();
    return true;
}

// The folder tells when something in it goes, and its parent when the folder itself is moved.
void AppLifecycle::watchSupportFolder() {
    const std::filesystem::path folder = LumenorPaths::supportDirectory();
    for (const auto& path : {folder, folder.parent_path()}) {
        const QString name = QString::fromStdString(path.string());
        if (!watcher_->directories().contains(name)) {
            watcher_->addPath(name);
        }
    }
}

void AppLifecycle::checkPlaces() {
    const bool held = instance_->stillHeld();
    if (stopped_ || (held && server_ && server_->stillBound())) {
        return;
    }
    WakeController& controller = WakeController::shared();
    if (!held && !instance_->retake()) {
        controller.log(
            "⚠️ Lumenor's lock was removed and another Lumenor holds it now; quitting "
            "so that only one keeps the computer awake.",
            LogEvent::Kind::warning);
        QCoreApplication::quit();
        return;
    }
    if (server_) {
        server_->stop();
        server_.reset();
    }
    if (!startServer()) {
        QCoreApplication::quit();
        return;
    }
    controller.log("⚠️ Lumenor's socket or lock was removed; made them again.",
                   LogEvent::Kind::warning);
    watchSupportFolder();
}

bool AppLifecycle::startServer() {
    if (!hop_) {
        hop_ = std::make_shared<MainThreadHop>([this] { return showPanel(); });
    }
    // Refused peers and malformed requests reach the log through the main thread without
    // holding up the server's loop.
    auto* logReceiver = new QObject(this);
    auto server = std::make_shared<LumenorServer>(
        LumenorPaths::socketPath(),
        [hop = hop_](LumenorRequest request, LumenorServer::Reply reply) {
            hop->dispatch(std::move(request), std::move(reply));
        },
        [logReceiver](const std::string& line) {
            auto handed = std::make_shared<std::string>(line);
            HandOff::release(handed.get());
            QMetaObject::invokeMethod(
                logReceiver,
                [handed] {
                    HandOff::acquire(handed.get());
                    WakeController::shared().log(*handed);
                },
                Qt::QueuedConnection);
        });
    try {
        server->start();
        // Only a started server is kept: stopping one that never bound would remove whatever
        // socket sits at the path, perhaps a newer instance's.
        server_ = std::move(server);
        return true;
    } catch (const std::exception& error) {
        // An app nobody can reach is no use: it says why and quits.
        const std::string message = socketFailureMessage(LumenorPaths::socketPath(), error);
        WakeController::shared().log("⚠️ " + message, LogEvent::Kind::warning);
        std::fprintf(stderr, "%s\n", message.c_str());
        return false;
    }
}

void AppLifecycle::stop() {
    if (!started_ || stopped_) {
        return;
    }
    stopped_ = true;
    // Requests must stop reaching the controller before it shuts down; the server is stopped
    // first so that no new connection arrives while the hop closes.
    if (server_) {
        server_->stop();
    }
    if (hop_) {
        hop_->close();
    }
    WakeController::shared().shutdown();
}
