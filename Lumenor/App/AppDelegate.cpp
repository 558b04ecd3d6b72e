#include "Lumenor/App/AppDelegate.h"

#include "Lumenor/Engine/HandOff.h"
#include "Lumenor/Engine/WakeController.h"
#include "Lumenor/UI/AgentAccess.h"
#include "Lumenor/UI/StatusPanelController.h"
#include "LumenorCore/LumenorClient.h"
#include "LumenorCore/LumenorPaths.h"
#include "LumenorCore/LumenorServer.h"
#include "LumenorCore/UnixSocketError.h"

#include <QApplication>
#include <QCoreApplication>
#include <QMetaObject>

#include <atomic>
#include <filesystem>

/// Carries requests from the server's connection threads to the controller on the main thread
/// and blocks the connection until the answer is there. The main thread never waits for a
/// connection, so a quitting app cannot deadlock with one: once the hop is closed, requests are
/// answered without the controller, those already queued included.
class AppDelegate::MainThreadHop {
public:
    /// Main thread only. The receiver is never deleted, so that a late connection thread
    /// cannot post to an object that is already gone.
    MainThreadHop() : receiver_(new QObject) {}

    /// Any thread but the main one.
    LumenorResponse handle(const LumenorRequest& request) {
        LumenorResponse response = quitting();
        if (closed_) {
            return response;
        }
        HandOff::release(&response);
        QMetaObject::invokeMethod(
            receiver_,
            [&] {
                HandOff::acquire(&response);
                if (!closed_) {
                    response = WakeController::shared().handle(request);
                }
                HandOff::release(&response);
            },
            Qt::BlockingQueuedConnection);
        HandOff::acquire(&response);
        return response;
    }

    /// Main thread: from now on the controller is not entered; hops already queued are
    /// answered at once.
    void close() {
        closed_ = true;
        QCoreApplication::sendPostedEvents(receiver_);
    }

private:
    static LumenorResponse quitting() { return {.ok = false, .message = "Lumenor is quitting."}; }

    QObject* const receiver_;
    std::atomic<bool> closed_ = false;
};

AppDelegate::AppDelegate() = default;

AppDelegate::~AppDelegate() {
    applicationWillTerminate();
}

bool AppDelegate::anotherInstanceServes() {
    try {
        const LumenorRequest ping{.command = "ping", .options = {}};
        return LumenorClient::send(ping, LumenorPaths::socketPath(), 2).ok;
    } catch (const std::exception&) {
        return false;
    }
}

void AppDelegate::takeOver() {
    ownsLifecycle_ = true;
    WakeController::shared().start();
    AgentAccess::refreshIfInstalled();
    // The tray item exists before the socket lets the first request in; without a display
    // there is no QApplication and so no tray.
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr) {
        statusPanel_ = std::make_unique<StatusPanelController>(WakeController::shared());
    }
    startServer();
}

void AppDelegate::startServer() {
    hop_ = std::make_shared<MainThreadHop>();
    // Refused peers and malformed requests reach the log through the main thread without
    // holding up the server's loop.
    auto* logReceiver = new QObject(this);
    auto server = std::make_shared<LumenorServer>(
        LumenorPaths::socketPath(),
        [hop = hop_](const LumenorRequest& request) { return hop->handle(request); },
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
    } catch (const UnixSocketError& error) {
        WakeController::shared().log(std::string("⚠️ Couldn't open control socket: ") +
                                     error.what());
    } catch (const std::filesystem::filesystem_error& error) {
        WakeController::shared().log("⚠️ Couldn't open control socket: " +
                                     error.code().message());
    } catch (const std::exception& error) {
        WakeController::shared().log(std::string("⚠️ Couldn't open control socket: ") +
                                     error.what());
    }
}

void AppDelegate::applicationWillTerminate() {
    if (!ownsLifecycle_ || terminated_) {
        return;
    }
    terminated_ = true;
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
