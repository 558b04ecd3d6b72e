#pragma once

#include "Platform/PlatformTestSupport.h"

#include <gtest/gtest.h>

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

inline const QString appPath = LUMENOR_BINARY_DIR "/bin/lumenor-app";
inline const QString toolPath = LUMENOR_BINARY_DIR "/bin/lumenor";

/// A private home for the real binaries, removed afterwards.
class Sandbox {
public:
    /// `homeLength` pads the home folder's path to at least that many bytes.
    explicit Sandbox(std::size_t homeLength = 0) {
        home_ += std::string(homeLength - std::min(homeLength, home_.string().size()), 'h');
        std::filesystem::create_directories(home_);
    }

    std::filesystem::path home() const { return home_; }
    std::filesystem::path socketPath() const { return home_ / ".local/state/lumenor/lumenor.sock"; }

    /// This process's environment without any display, pointed at the sandbox (the XDG folders
    /// default to its home), and at a private bus on which a mock logind serves unless
    /// `withLogind` is false (then at no bus). Shell scripts find the command as $TOOL.
    /// Commands do not start the app on demand.
    QProcessEnvironment environment() const {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* name :
             {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "XDG_STATE_HOME", "XDG_CONFIG_HOME"})
            environment.remove(name);
        const QString bus = !withLogind   ? QStringLiteral("unix:path=/nonexistent/lumenor-bus")
                            : logindBus() ? QString::fromLatin1(logindBus()->address())
                                          : QString();
        environment.insert("DBUS_SYSTEM_BUS_ADDRESS", bus);
        environment.insert("DBUS_SESSION_BUS_ADDRESS", bus);
        environment.insert("LUMENOR_HOME", QString::fromStdString(home_.string()));
        // The machines that run the tests may have no lid; the app's lid handling is tested.
        environment.insert("LUMENOR_ASSUME_LID", "1");
        environment.insert("TOOL", toolPath);
        // Only the tests of starting on demand let a command start an app nobody stops.
        environment.insert("LUMENOR_NO_START", "1");
        return environment;
    }

    bool withLogind = true;

private:
    QTemporaryDir root_;
    std::filesystem::path home_ = std::filesystem::path(root_.path().toStdString()) / "home";
};

/// A started program; stopped with SIGTERM (then killed) if still running at the end. Its
/// standard input is empty, or with `input` a pipe the test writes to.
class Child : public QProcess {
public:
    Child(const QString& program, const QStringList& arguments,
          const QProcessEnvironment& environment, bool input = false) {
        setProcessEnvironment(environment);
        if (!input)
            setStandardInputFile(QProcess::nullDevice());
        start(program, arguments);
        waitForStarted();
    }
    // The orderly shutdown first, so that nothing the app started outlives the test.
    ~Child() override {
        if (state() == NotRunning)
            return;
        terminate();
        if (!waitForFinished(10000)) {
            kill();
            waitForFinished();
        }
    }

    /// The exit status once ended (-1 after a signal); none if still running after `ms`.
    std::optional<int> waitFor(int ms) {
        if (state() != NotRunning && !waitForFinished(ms))
            return std::nullopt;
        return exitStatus() == NormalExit ? exitCode() : -1;
    }
    /// Everything written to standard error so far.
    std::string err() { return err_ += readAllStandardError().toStdString(); }

private:
    std::string err_;
};

struct Finished {
    int status = -1;
    std::string out, err;
};

/// Runs a program to its end, killing it after 20 s.
inline Finished run(const QString& program, const QStringList& arguments,
                    const QProcessEnvironment& environment) {
    Child child(program, arguments, environment);
    const int status = child.waitFor(20000).value_or(-1);
    return {status, child.readAllStandardOutput().toStdString(), child.err()};
}

/// Checks status and standard error exactly, and that standard output starts with
/// `expected.out` (or is empty when that is).
inline void expectOutcome(const Finished& finished, const Finished& expected) {
    EXPECT_EQ(finished.status, expected.status);
    EXPECT_TRUE(expected.out.empty() ? finished.out.empty()
                                     : finished.out.starts_with(expected.out))
        << finished.out;
    EXPECT_EQ(finished.err, expected.err);
}

/// The `lumenor` command in the sandbox.
inline Finished lumenor(const Sandbox& sandbox, const QStringList& arguments) {
    return run(toolPath, arguments, sandbox.environment());
}

/// The app in the sandbox, on the offscreen platform unless `display` is false.
inline std::unique_ptr<Child> startApp(const Sandbox& sandbox, bool display = true) {
    QProcessEnvironment environment = sandbox.environment();
    if (display)
        environment.insert("QT_QPA_PLATFORM", "offscreen");
    return std::make_unique<Child>(appPath, QStringList(), environment);
}

/// A sandbox and, once startTheApp() has run, its app, whose standard error a failed test shows.
class AppTest : public ::testing::Test {
protected:
    void startTheApp() {
        app = startApp(sandbox);
        ASSERT_TRUE(QTest::qWaitFor([&] { return lumenor(sandbox, {"ping"}).status == 0; }, 20000))
            << app->err();
    }
    // A failure's cause is often in what the app said, a sanitizer's report among it.
    void TearDown() override {
        if (HasFailure() && app)
            ADD_FAILURE() << "The app said:\n" << app->err();
    }

    Sandbox sandbox;
    std::unique_ptr<Child> app;
};
