#pragma once

#include "LumenorCore/LumenorRequest.h"
#include "LumenorCore/LumenorResponse.h"

#include <QObject>

#include <memory>
#include <optional>
#include <string>

class LumenorServer;
class QFileSystemWatcher;
class SingleInstance;
class StatusPanelController;

/// Owns the service's lifetime in the instance that serves: starts the controller and the
/// control socket at launch and stops them, in order, when the app quits.
class AppLifecycle : public QObject {
    Q_OBJECT

public:
    AppLifecycle();
    ~AppLifecycle() override;

    struct ShowOutcome {
        /// The serving instance answered, whether or not it could show the panel.
        bool answered = false;
        /// Why the panel is not shown (no display, an older copy, no answer); none when it is.
        std::optional<std::string> refusal;
    };
    /// Asks the serving instance to open its panel ("show").
    static ShowOutcome askToShowPanel();

    /// The answer to "show": opens the panel on the main thread; refuses when there is no
    /// tray and panel (headless). Every answer carries the controller's status.
    LumenorResponse showPanel();

    /// Starts the controller, refreshes agent access, shows the tray item (with a display),
    /// then opens the control socket, and watches the support folder so that a removed socket
    /// or lock is made again (or the app quits when another instance took the lock meanwhile,
    /// never two keeping the computer awake). False when the socket cannot be served: the reason,
    /// naming the path, is then logged and on standard error, and the app should quit. Main
    /// thread, once, with the event loop about to run.
    bool start(SingleInstance& instance);

    /// Stops the server (removing the socket file), then shuts the controller down. Does
    /// nothing unless start ran; safe to call again.
    void stop();

private:
    class MainThreadHop;

    bool startServer();
    /// The support folder changed: makes a lost lock or socket again, or quits.
    void checkPlaces();
    void watchSupportFolder();

    std::shared_ptr<MainThreadHop> hop_;
    std::shared_ptr<LumenorServer> server_;
    std::unique_ptr<StatusPanelController> statusPanel_;
    SingleInstance* instance_ = nullptr;
    QFileSystemWatcher* watcher_ = nullptr;
    bool started_ = false;
    bool stopped_ = false;
};
