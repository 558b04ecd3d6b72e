// The app and its command against a real logind (scripts/real-logind): each reply and status
// agrees with what logind itself lists at the moment it is given.
#include "App/Processes.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <QDBusConnection>
#include <QDBusInterface>
#include <QDir>
#include <QTest>

#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

/// Runs the fixture, its bus becoming this program's system bus; `skip` says why it does not.
struct RealLogind {
    RealLogind() {
        const QByteArray cache = qgetenv("XDG_CACHE_HOME");
        const QString root = cache.isEmpty() ? QDir::homePath() + "/.cache" : QString(cache);
        script.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
        script.start(LUMENOR_SOURCE_DIR "/scripts/real-logind",
                     {root + "/lumenor-test/elogind", folder.path()});
        QFile file(folder.filePath("address"));
        (void)QTest::qWaitFor(
            [&] { return file.exists() || script.state() == QProcess::NotRunning; }, 10000);
        if (!file.open(QIODevice::ReadOnly)) {
            script.waitForFinished(1000);
            skip = script.readAllStandardError().trimmed().toStdString();
            skip = skip.empty() ? "real-logind: no logind within 10 s" : skip;
            return;
        }
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", file.readAll().trimmed()); // it cannot suspend
    }
    ~RealLogind() {
        script.terminate();
        script.waitForFinished(5000);
    }
    QTemporaryDir folder;
    QProcess script;
    std::string skip;
};

class RealLogindApp : public ::testing::Test {
protected:
    void SetUp() override {
        ensureApplication();
        static const RealLogind logind;
        if (!logind.skip.empty()) {
            GTEST_SKIP() << logind.skip;
        }
        sandbox.withLogind = false;
        environment = sandbox.environment();
        environment.insert("DBUS_SYSTEM_BUS_ADDRESS", qgetenv("DBUS_SYSTEM_BUS_ADDRESS"));
        environment.insert("DBUS_SESSION_BUS_ADDRESS", qgetenv("DBUS_SYSTEM_BUS_ADDRESS"));
        environment.insert("QT_QPA_PLATFORM", "offscreen");
    }
    /// Starts the app as root, or as `nobody` in no login session, whom polkit refuses.
    void start(bool asNobody = false) {
        if (asNobody) {
            std::filesystem::permissions(sandbox.home().parent_path(),
                                         std::filesystem::perms::others_exec,
                                         std::filesystem::perm_options::add);
            ASSERT_EQ(::chown(sandbox.home().c_str(), 65534, 65534), 0);
            user = {"--reuid=65534", "--regid=65534", "--clear-groups"};
        }
        app = std::make_unique<Child>("setpriv", user + QStringList{appPath}, environment);
        ASSERT_TRUE(QTest::qWaitFor([&] { return send({"ping"})["ok"] == true; }, 20000));
        pid = uint32_t(app->processId());
    }
    Finished lumenor(const QStringList& arguments) {
        return run("setpriv", user + QStringList{toolPath} + arguments, environment);
    }
    nlohmann::json send(const QStringList& arguments) {
        return nlohmann::json::parse(lumenor(arguments + QStringList{"--json"}).out, nullptr,
                                     false);
    }
    /// What the app's own inhibitors block, and why, as logind lists them now.
    std::map<std::string, std::string> ours() const {
        std::map<std::string, std::string> held;
        for (const auto& inhibitor :
             PowerControl::listInhibitors().value_or(std::vector<PowerControl::Inhibitor>{})) {
            if (inhibitor.pid == pid) {
                held[inhibitor.what] = inhibitor.why;
            }
        }
        return held;
    }

    Sandbox sandbox;
    QProcessEnvironment environment;
    std::unique_ptr<Child> app;
    uint32_t pid = 0; // the app's, kept when it is killed
    QStringList user; // setpriv's options: none keeps root
};

TEST_F(RealLogindApp, RepliesAndStatusAgreeWithLogindFromStartThroughKillAndRestart) {
    start();
    const std::string session = "Lumenor keep-awake session: Indefinitely", lid = "Lid-closed mode";
    using Held = std::map<std::string, std::string>;
    const struct {
        QStringList command;
        Held held; // our inhibitors: the sleep one names what holds the computer awake
    } steps[] = {
        {{"set", "--lid", "on"}, {}},
        {{"on"}, {{"sleep:idle", session}, {"sleep:idle:handle-lid-switch", lid}}},
        {{"set", "--lid", "off"}, {{"sleep:idle", session}}},
        {{"set", "--lid", "on"}, {{"sleep:idle", session}, {"sleep:idle:handle-lid-switch", lid}}},
        {{"hold", "job", "--for", "5m"},
         {{"sleep:idle", session + "; Lumenor hold: job"}, {"sleep:idle:handle-lid-switch", lid}}},
        {{"off"}, {{"sleep:idle", "Lumenor hold: job"}, {"sleep:idle:handle-lid-switch", lid}}},
        {{"release", "job"}, {}},
    };
    for (const auto& step : steps) {
        const auto reply = send(step.command);
        const std::string what = step.command.join(' ').toStdString();
        EXPECT_EQ(reply["ok"], true) << what << ": " << reply.dump();
        EXPECT_EQ(ours(), step.held) << what;
        const bool lidHeld = step.held.contains("sleep:idle:handle-lid-switch");
        EXPECT_EQ(reply["status"]["lidClosedModeActive"], lidHeld) << what;
        const std::string message = reply["message"];
        EXPECT_EQ(message.find("even with the lid closed") != std::string::npos,
                  lidHeld && what == "on")
            << message;
        const std::string status = send({"status"})["message"];
        EXPECT_EQ(status.find("Lid-closed mode ON") != std::string::npos, lidHeld) << status;
    }
    // `run` lets go of the computer and the lid before it exits.
    EXPECT_EQ(lumenor({"run", "--", "true"}).status, 0);
    EXPECT_EQ(ours(), Held{});

    ASSERT_EQ(send({"on", "--lid", "on"})["ok"], true);
    const auto lidHandler = [&] { return send({"ping"})["status"].value("lidHandledBy", ""); };
    // Another program's inhibitor lasts while its descriptor is open, here in the reply.
    auto other = std::make_optional(
        QDBusInterface("org.freedesktop.login1", "/org/freedesktop/login1",
                       "org.freedesktop.login1.Manager", QDBusConnection::systemBus())
            .call("Inhibit", "handle-lid-switch", "Power Manager", "lid", "block"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return lidHandler() == "Power Manager"; }, 2000));
    const std::string status = send({"status"})["message"];
    EXPECT_EQ(status.find("Lid-closed mode ON"), std::string::npos) << status;
    EXPECT_NE(status.find("Power Manager handles the lid itself"), std::string::npos) << status;
    other.reset();
    EXPECT_TRUE(QTest::qWaitFor([&] { return lidHandler().empty(); }, 2000));

    // Killed, the app frees what it held at once, and a `run` under way says it went unheld;
    // started again, the app takes the session up again.
    // The command marks that it runs: only then has `run` its answer, and a kill is one under way.
    const QString started = QString::fromStdString(sandbox.home().string()) + "/started";
    Child running("setpriv",
                  user + QStringList{toolPath, "run", "--label", "sleep 1", "--", "sh", "-c",
                                     "touch '" + started + "'; sleep 1"},
                  environment);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return QFile::exists(started) &&
                   ours()["sleep:idle"] == session + "; lumenor run: sleep 1";
        },
        2000));
    app->kill();
    EXPECT_TRUE(QTest::qWaitFor([&] { return ours().empty(); }, 100));
    EXPECT_EQ(running.waitFor(5000), 0);
    EXPECT_NE(running.err().find("Lumenor stopped while the command ran"), std::string::npos);
    app->waitFor(5000); // a new app may start once the old one is gone
    start();
    EXPECT_EQ(ours(), (Held{{"sleep:idle", session}, {"sleep:idle:handle-lid-switch", lid}}));
    EXPECT_EQ(send({"status"})["status"]["lidClosedModeActive"], true);
}

TEST_F(RealLogindApp, PolkitsRefusalIsNamedWithTheWayOutAndRunRunsNothing) {
    start(true);
    const std::string wayOut =
        "polkit allows it in an active local session, while polkitd runs, or to root.";
    const auto reply = send({"on", "--for", "10m"});
    EXPECT_EQ(reply["message"],
              "Couldn't keep the computer awake: the system's authorization (polkit) refused it "
              "(logind: Permission denied). Lumenor keeps the request and tries again, at once "
              "when logind, polkit, a portal or your session changes; " +
                  wayOut);
    EXPECT_TRUE(ours().empty());
    send({"off"});

    // `run` takes all or nothing: no command, no hold, not even for a moment, and its own status.
    const auto marker = sandbox.home() / "ran";
    const Finished refused = lumenor({"run", "--", "touch", marker.c_str()});
    EXPECT_EQ(refused.status, 125);
    EXPECT_TRUE(refused.err.ends_with("Nothing was run; " + wayOut + "\n")) << refused.err;
    EXPECT_FALSE(std::filesystem::exists(marker));
    const std::string log = readFile(sandbox.home() / ".local/state/lumenor/lumenor.log");
    EXPECT_EQ(log.find("Hold taken"), std::string::npos) << log;
}

} // namespace
