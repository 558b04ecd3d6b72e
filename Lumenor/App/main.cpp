// lumenor-app: the one instance that serves the control socket and keeps the machine awake.

#include "Lumenor/App/AppLifecycle.h"
#include "Lumenor/App/SingleInstance.h"
#include "Lumenor/App/TerminationSignals.h"
#include "Lumenor/UI/Snapshot.h"

#include <QApplication>
#include <QCoreApplication>
#include <QIcon>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace {

bool environmentSet(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

/// The platforms Qt would try on its own: QT_QPA_PLATFORM, else what Qt picks for the session
/// (Wayland first on a Wayland session outside GNOME, else X11).
QByteArray requestedPlatforms() {
    if (environmentSet("QT_QPA_PLATFORM"))
        return qgetenv("QT_QPA_PLATFORM");
    const QByteArray desktop =
        (qgetenv("XDG_CURRENT_DESKTOP") + qgetenv("XDG_SESSION_DESKTOP")).toLower();
    if (qgetenv("XDG_SESSION_TYPE") == "wayland" && !desktop.contains("gnome"))
        return "wayland;xcb";
    return environmentSet("WAYLAND_DISPLAY") && !environmentSet("DISPLAY") ? "wayland" : "xcb";
}

/// A GUI application on whatever platform Qt opens; none, after saying which platforms failed,
/// when no display can be opened. Qt aborts the process when no platform in its list loads, so
/// the list ends in one that always does, and landing there means no display.
std::unique_ptr<QApplication> openDisplay(int& argc, char** argv) {
    if (!environmentSet("QT_QPA_PLATFORM") && !environmentSet("DISPLAY") &&
        !environmentSet("WAYLAND_DISPLAY")) {
        std::fputs("Lumenor: no display available, so there is no tray icon; the lumenor "
                   "command works as usual.\n",
                   stderr);
        return nullptr;
    }
    const bool userSet = environmentSet("QT_QPA_PLATFORM");
    const QByteArray requested = requestedPlatforms();
    const bool offscreenAsked = requested.split(';').front().startsWith("offscreen");
    if (!offscreenAsked)
        qputenv("QT_QPA_PLATFORM", requested + ";offscreen");
    auto app = std::make_unique<QApplication>(argc, argv);
    // What the app starts inherits what the user set, not our last resort.
    if (userSet)
        qputenv("QT_QPA_PLATFORM", requested);
    else
        qunsetenv("QT_QPA_PLATFORM");
    if (offscreenAsked || QGuiApplication::platformName() != QLatin1String("offscreen"))
        return app;
    std::fprintf(stderr,
                 "Lumenor: could not open a display with the Qt platform \"%s\", so there is no "
                 "tray icon; the lumenor command works as usual.\n",
                 requested.constData());
    return nullptr;
}

std::unique_ptr<QCoreApplication> makeApplication(int& argc, char** argv) {
    if (auto app = openDisplay(argc, argv)) {
        // The tray and its panel are no reason to quit when the panel closes.
        app->setQuitOnLastWindowClosed(false);
        app->setWindowIcon(QIcon(QStringLiteral(":/lumenor/com.corvata.lumenor.svg")));
        QGuiApplication::setDesktopFileName(QStringLiteral("com.corvata.lumenor"));
        return app;
    }
    return std::make_unique<QCoreApplication>(argc, argv);
}

/// What `--help` and `--version` ask for, if either comes before any `--snapshot`.
enum class Information { none, help, version };

Information informationRequest(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--snapshot")
            return Information::none;
        if (argument == "--help" || argument == "-h")
            return Information::help;
        if (argument == "--version")
            return Information::version;
    }
    return Information::none;
}

int printInformation(Information information, const char* program) {
    if (information == Information::version) {
        std::printf("Lumenor %s\n", LUMENOR_VERSION);
        return 0;
    }
    const std::string name = std::filesystem::path(program).filename().string();
    std::printf(
        "Usage: %s [--background | --snapshot FILE [light]]\n"
        "\n"
        "Keeps the computer awake on request and puts it to sleep again on request. Without\n"
        "arguments it shows its tray icon (or runs headless without a display) and serves the\n"
        "lumenor command; started while it runs, it opens the running app's panel.\n"
        "\n"
        "  --background             a start by the session or on demand: without a tray,\n"
        "                           do not open the panel as a window\n"
        "  --snapshot FILE [light]  render the panel to a PNG, dark unless \"light\", and exit\n"
        "  --help                   show this text and exit\n"
        "  --version                show the version and exit\n"
        "\n"
        "The lumenor command drives the running app: try \"lumenor status\" or \"lumenor help\".\n",
        name.c_str());
    return 0;
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

/// What a process that takeOrExplain did not let serve does: its exit status, or none when it
/// serves after all. The lock's holder may still be starting (it answers soon) or may have just
/// been killed (its lock goes with it in a moment), so both are awaited for a while.
std::optional<int> afterRefusal(SingleInstance& instance, int status) {
    if (!instance.anotherServes()) {
        return status;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    AppLifecycle::ShowOutcome shown;
    while (!(shown = AppLifecycle::askToShowPanel()).answered) {
        if (instance.takeOnceFreed(std::chrono::milliseconds(250))) {
            return std::nullopt;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            std::fprintf(stderr,
                         "Lumenor is already running but isn't answering (%s); end that "
                         "process (pkill -x lumenor-app) and start Lumenor again.\n",
                         shown.refusal.value_or("no answer").c_str());
            return 1;
        }
    }
    std::fprintf(stderr, "Lumenor is already running%s\n",
                 shown.refusal ? (": " + *shown.refusal).c_str() : ".");
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (const Information information = informationRequest(argc, argv);
        information != Information::none) {
        return printInformation(information, argv[0]);
    }
    if (const auto snapshot = snapshotRequest(argc, argv)) {
        return renderSnapshot(argc, argv, *snapshot);
    }

    // A second copy leaves before it touches the display, the controller or the socket, after
    // asking the running one to show its panel: launching the app from a menu should show
    // something.
    SingleInstance instance;
    if (const auto refused = instance.takeOrExplain()) {
        if (const auto status = afterRefusal(instance, *refused)) {
            return *status;
        }
    }
    QCoreApplication::setOrganizationName("Lumenor");
    QCoreApplication::setApplicationName("Lumenor");
    const std::unique_ptr<QCoreApplication> app = makeApplication(argc, argv);
    TerminationSignals terminationSignals;

    AppLifecycle lifecycle;
    QObject::connect(app.get(), &QCoreApplication::aboutToQuit, &lifecycle, &AppLifecycle::stop);
    if (!lifecycle.start(instance)) {
        lifecycle.stop();
        return 1;
    }
    const int status = app->exec();
    lifecycle.stop();
    return status;
}
