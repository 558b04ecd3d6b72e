#include "App/Processes.h"

#include <QFile>

Sandbox::Sandbox(std::size_t homeLength) {
    home_ = std::filesystem::path(root_.path().toStdString()) / "home";
    const std::size_t length = home_.string().size();
    if (homeLength > length) {
        home_ += std::string(homeLength - length, 'h');
    }
    std::filesystem::create_directories(home_);
}

std::filesystem::path Sandbox::socketPath() const {
    return home_ / "Library/Application Support/Lumenor/lumenor.sock";
}

QProcessEnvironment Sandbox::environment() const {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        environment.remove(name);
    }
    environment.insert("LUMENOR_HOME", QString::fromStdString(home_.string()));
    environment.insert("XDG_CONFIG_HOME", root_.filePath("config"));
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
