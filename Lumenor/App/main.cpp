// The Lumenor app: the one instance that serves the control socket and keeps the machine awake.

#include "Lumenor/App/AppDelegate.h"
#include "Lumenor/App/SingleInstance.h"
#include "Lumenor/App/TerminationSignals.h"
#include "Lumenor/UI/Snapshot.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QStringList>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

namespace {

bool environmentSet(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

bool platformPluginExists(const QString& name) {
    QStringList folders{QLibraryInfo::path(QLibraryInfo::PluginsPath) + "/platforms"};
    if (environmentSet("QT_QPA_PLATFORM_PLUGIN_PATH")) {
        folders.prepend(qEnvironmentVariable("QT_QPA_PLATFORM_PLUGIN_PATH"));
    }
    for (const QString& folder : folders) {
        if (QDir(folder).exists("libq" + name + ".so")) {
            return true;
        }
    }
    return false;
}

/// Whether Qt's platform plugin can start: a GUI application aborts the process when it
/// cannot, so the choice must be made before one exists.
bool platformUsable(const QString& entry) {
    const QString name = entry.section(':', 0, 0).trimmed();
    if (name.isEmpty()) {
        return false;
    }
    if (name == "xcb" && !environmentSet("DISPLAY")) {
        return false;
    }
    if (name.startsWith("wayland") && !environmentSet("WAYLAND_DISPLAY")) {
        return false;
    }
    return platformPluginExists(name);
}

bool displayAvailable() {
    if (environmentSet("QT_QPA_PLATFORM")) {
        // Qt tries the entries of a list in order and takes the first that loads.
        const QStringList entries = qEnvironmentVariable("QT_QPA_PLATFORM").split(';');
        return std::any_of(entries.begin(), entries.end(), platformUsable);
    }
    return environmentSet("DISPLAY") || environmentSet("WAYLAND_DISPLAY");
}

std::unique_ptr<QCoreApplication> makeApplication(int& argc, char** argv) {
    if (displayAvailable()) {
        auto app = std::make_unique<QApplication>(argc, argv);
        // The tray and its panel are no reason to quit when the panel closes.
        app->setQuitOnLastWindowClosed(false);
        return app;
    }
    std::fputs("Lumenor: no display available, so there is no tray icon; the lumenor command "
               "works as usual.\n",
               stderr);
    return std::make_unique<QCoreApplication>(argc, argv);
}

/// The file and appearance of `--snapshot PATH [light]`; none when the switch is absent or
/// has no path after it.
struct SnapshotRequest {
    std::string path;
    bool dark = true;
};

std::optional<SnapshotRequest> snapshotRequest(int argc, char** argv) {
    for (int i = 0; i < argc; ++i) {
        if (std::string(argv[i]) != "--snapshot") {
            continue;
        }
        if (i + 1 >= argc) {
            return std::nullopt;
        }
        const bool light = i + 2 < argc && std::string(argv[i + 2]) == "light";
        return SnapshotRequest{argv[i + 1], !light};
    }
    return std::nullopt;
}

/// Renders the panel to a PNG without a display or a running service; always succeeds.
int renderSnapshot(int argc, char** argv, const SnapshotRequest& request) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QCoreApplication::setOrganizationName("Lumenor");
    QCoreApplication::setApplicationName("Lumenor");
    QApplication app(argc, argv);
    Snapshot::render(request.path, request.dark);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (const auto snapshot = snapshotRequest(argc, argv)) {
        return renderSnapshot(argc, argv, *snapshot);
    }

    // A second copy leaves before it touches the display, the controller or the socket.
    SingleInstance instance;
    if (const auto status = instance.takeOrExplain()) {
        return *status;
    }
    QCoreApplication::setOrganizationName("Lumenor");
    QCoreApplication::setApplicationName("Lumenor");
    const std::unique_ptr<QCoreApplication> app = makeApplication(argc, argv);
    TerminationSignals terminationSignals;

    AppDelegate delegate;
    QObject::connect(app.get(), &QCoreApplication::aboutToQuit, &delegate,
                     &AppDelegate::applicationWillTerminate);
    if (!delegate.takeOver()) {
        delegate.applicationWillTerminate();
        return 1;
    }
    const int status = app->exec();
    delegate.applicationWillTerminate();
    return status;
}
