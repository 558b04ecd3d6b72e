#include "App/Processes.h"

#include "Support/PrivateBus.h"

#include <QCoreApplication>
#include <QFile>

namespace {

/// One bus for the whole test program, with logind played by dbusmock; started on first use.
QByteArray busWithLogind() {
    static const QByteArray address = [] {
        static int argc = 1;
        static char* argv[] = {const_cast<char*>("lumenor-app-tests"), nullptr};
        if (QCoreApplication::instance() == nullptr) {
            new QCoreApplication(argc, argv); // never deleted, like the bus
        }
        static auto* const bus = new PrivateBus; // a static keeps it reachable to the leak check
        const bool ready =
            !bus->address().isEmpty() &&
            bus->startMock({"--template", "logind"}, QStringLiteral("org.freedesktop.login1"));
        return ready ? bus->address() : QByteArray();
    }();
    return address;
}

} // namespace

Sandbox::Sandbox(std::size_t homeLength) {
    home_ = std::filesystem::path(root_.path().toStdString()) / "home";
    const std::size_t length = home_.string().size();
    if (homeLength > length) {
        home_ += std::string(homeLength - length, 'h');
    }
    std::filesystem::create_directories(home_);
}

std::filesystem::path Sandbox::socketPath() const {
    return home_ / ".local/state/lumenor/lumenor.sock";
}

QProcessEnvironment Sandbox::environment() const {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // The XDG folders default to the sandbox's home.
    for (const char* name :
         {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "XDG_STATE_HOME", "XDG_CONFIG_HOME"}) {
        environment.remove(name);
    }
    const QString bus = withLogind ? QString::fromLatin1(busWithLogind())
                                   : QStringLiteral("unix:path=/nonexistent/lumenor-bus");
    environment.insert("DBUS_SYSTEM_BUS_ADDRESS", bus);
    environment.insert("DBUS_SESSION_BUS_ADDRESS", bus);
    environment.insert("LUMENOR_HOME", QString::fromStdString(home_.string()));
    return environment;
}

Child::Child(const QString& program, const QStringList& arguments,
             const QProcessEnvironment& environment) {
    setProcessEnvironment(environment);
    setStandardInputFile(QProcess::nullDevice());
    start(program, arguments);
    waitForStarted();
}

Child::~Child() {
    // The orderly shutdown first, so that nothing the app started outlives the test.
    if (state() != NotRunning) {
        terminate();
        if (!waitForFinished(10000)) {
            kill();
            waitForFinished();
        }
    }
}

std::optional<int> Child::waitFor(int ms) {
    if (state() != NotRunning && !waitForFinished(ms)) {
        return std::nullopt;
    }
    return exitStatus() == NormalExit ? exitCode() : -1;
}

std::string Child::err() {
    err_ += readAllStandardError().toStdString();
    return err_;
}

Finished run(const QString& program, const QStringList& arguments,
             const QProcessEnvironment& environment) {
    Child child(program, arguments, environment);
    Finished finished;
    if (const std::optional<int> status = child.waitFor(20000)) {
        finished.status = *status;
    }
    finished.out = child.readAllStandardOutput().toStdString();
    finished.err = child.err();
    return finished;
}

Finished lumenor(const Sandbox& sandbox, const QStringList& arguments) {
    return run(toolPath, arguments, sandbox.environment());
}

std::unique_ptr<Child> startApp(const Sandbox& sandbox, bool display) {
    QProcessEnvironment environment = sandbox.environment();
    if (display) {
        environment.insert("QT_QPA_PLATFORM", "offscreen");
    }
    return std::make_unique<Child>(appPath, QStringList(), environment);
}

std::string readFile(const std::filesystem::path& file) {
    QFile in(QString::fromStdString(file.string()));
    return in.open(QIODevice::ReadOnly) ? in.readAll().toStdString() : std::string();
}
