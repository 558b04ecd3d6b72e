// The app and its command against a real logind (tests/Platform/real-logind.sh): each reply and
// status agrees with what logind itself lists at the moment it is given.
#include "App/Processes.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <QDir>
#include <QFile>
#include <QTest>

#include <algorithm>
#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

QDBusMessage callLogind(const QString& method, const QVariantList& arguments = {}) {
    QDBusMessage message =
        QDBusMessage::createMethodCall("org.freedesktop.login1", "/org/freedesktop/login1",
                                       "org.freedesktop.login1.Manager", method);
    message.setArguments(arguments);
    return QDBusConnection::systemBus().call(message, QDBus::Block, 10000);
}

/// Runs the fixture, whose bus becomes this program's system bus; skipReason() says why not.
class RealLogind {
public:
    RealLogind() {
        const QByteArray cache = qgetenv("XDG_CACHE_HOME");
        const QString root = (cache.isEmpty() ? QDir::homePath() + "/.cache" : QString(cache)) +
                             "/lumenor-test/elogind";
        script_.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
        script_.start(LUMENOR_SOURCE_DIR "/tests/Platform/real-logind.sh", {root, folder_.path()});
        QFile file(folder_.filePath("address"));
        (void)QTest::qWaitFor(
            [&] { return file.exists() || script_.state() == QProcess::NotRunning; }, 10000);
        if (!file.open(QIODevice::ReadOnly)) {
            script_.waitForFinished(1000);
            skipReason = script_.readAllStandardError().trimmed().toStdString();
            skipReason = skipReason.empty() ? "real-logind: no logind within 10 s" : skipReason;
            return;
        }
        address = file.readAll().trimmed();
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", address);
        // Nothing here may suspend this computer; a logind that could is not used.
        const QString canSuspend = callLogind("CanSuspend").arguments().value(0).toString();
        if (canSuspend != "na" && canSuspend != "no") {
            skipReason = "real-logind: CanSuspend is " + canSuspend.toStdString();
        }
    }
    ~RealLogind() {
        script_.terminate();
        script_.waitForFinished(5000);
    }
    std::string skipReason;
    QByteArray address;

private:
    QTemporaryDir folder_;
    QProcess script_;
};

class RealLogindApp : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ensureApplication();
        logind = new RealLogind;
    }
    static void TearDownTestSuite() { delete std::exchange(logind, nullptr); }

    void SetUp() override {
        if (!logind->skipReason.empty()) {
            GTEST_SKIP() << logind->skipReason;
        }
        sandbox.withLogind = false;
        environment = sandbox.environment();
        environment.insert("DBUS_SYSTEM_BUS_ADDRESS", logind->address);
        environment.insert("DBUS_SESSION_BUS_ADDRESS", logind->address);
        environment.insert("LUMENOR_ASSUME_LID", "1");
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
        ASSERT_TRUE(QTest::qWaitFor([&] { return send({"ping"})["ok"] == true; }, 20000))
            << app->err();
    }
    void TearDown() override {
        if (HasFailure() && app) {
            ADD_FAILURE() << "The app said:\n" << app->err();
        }
    }

    /// The command's reply as JSON: ok, message and the status it describes.
    nlohmann::json send(QStringList arguments) {
        const Finished finished =
            run("setpriv", user + QStringList{toolPath} + arguments << "--json", environment);
        return nlohmann::json::parse(finished.out, nullptr, false);
    }
    std::string ourWhy() const {
        const auto listed = PowerControl::listInhibitors().value();
        for (const auto& inhibitor : listed) {
            if (inhibitor.pid == uint32_t(app->processId()) && inhibitor.what == "sleep:idle") {
                return inhibitor.why;
            }
        }
        return {};
    }
    /// What the app's own inhibitors block, as logind lists them now.
    std::vector<std::string> ours() const {
        std::vector<std::string> what;
        const auto listed = PowerControl::listInhibitors().value();
        for (const auto& inhibitor : listed) {
            if (inhibitor.pid == uint32_t(app->processId())) {
                what.push_back(inhibitor.what);
            }
        }
        std::sort(what.begin(), what.end());
        return what;
    }

    static inline RealLogind* logind = nullptr;
    Sandbox sandbox;
    QProcessEnvironment environment;
    std::unique_ptr<Child> app;
    QStringList user; // setpriv's options: none keeps root
};

const std::vector<std::string> none;
const std::vector<std::string> awake{"sleep:idle"};
const std::vector<std::string> awakeAndLid{"sleep:idle", "sleep:idle:handle-lid-switch"};

TEST_F(RealLogindApp, EachReplyDescribesWhatLogindHoldsWhenItIsGiven) {
    start();
    const std::string session = "Lumenor keep-awake session: Indefinitely";
    const struct {
        QStringList command;
        std::vector<std::string> held;
        std::string why; // of our sleep:idle inhibitor, which names what holds the computer
    } steps[] = {
        {{"set", "--lid", "on"}, none, ""},
        {{"on"}, awakeAndLid, session},
        {{"set", "--lid", "off"}, awake, session},
        {{"set", "--lid", "on"}, awakeAndLid, session},
        {{"hold", "job", "--for", "5m"}, awakeAndLid, session + "; Lumenor hold: job"},
        {{"off"}, awakeAndLid, "Lumenor hold: job"},
        {{"release", "job"}, none, ""},
    };
    for (const auto& step : steps) {
        const auto reply = send(step.command);
        const auto held = ours();
        const std::string what = step.command.join(' ').toStdString();
        EXPECT_EQ(reply["ok"], true) << what << ": " << reply.dump();
        EXPECT_EQ(held, step.held) << what;
        EXPECT_EQ(ourWhy(), step.why) << what;
        const bool lid = held == awakeAndLid;
        EXPECT_EQ(reply["status"]["lidClosedModeActive"], lid) << what;
        const std::string message = reply["message"];
        EXPECT_EQ(message.find("even with the lid closed") != std::string::npos,
                  lid && step.command[0] == "on")
            << what << ": " << message;
        const std::string status = send({"status"})["message"];
        EXPECT_EQ(status.find("Lid-closed mode ON") != std::string::npos, lid) << status;
    }
}

TEST_F(RealLogindApp, AnotherHolderOfTheLidShowsWithinTwoSecondsBothWays) {
    start();
    ASSERT_EQ(send({"on", "--lid", "on"})["ok"], true);
    const auto lidHandler = [&] { return send({"ping"})["status"].value("lidHandledBy", ""); };
    auto other = std::make_optional(
        callLogind("Inhibit", {"handle-lid-switch", "Power Manager", "lid", "block"})
            .arguments()
            .value(0)
            .value<QDBusUnixFileDescriptor>());
    ASSERT_TRUE(other->isValid());
    EXPECT_TRUE(QTest::qWaitFor([&] { return lidHandler() == "Power Manager"; }, 2000));
    const std::string status = send({"status"})["message"];
    EXPECT_EQ(status.find("Lid-closed mode ON"), std::string::npos) << status;
    EXPECT_NE(status.find("Power Manager handles the lid itself"), std::string::npos) << status;
    other.reset();
    EXPECT_TRUE(QTest::qWaitFor([&] { return lidHandler().empty(); }, 2000));
    EXPECT_EQ(ours(), awakeAndLid);
}

TEST_F(RealLogindApp, PolkitsRefusalIsNamedWithTheWayOutAndNothingIsHeld) {
    start(true);
    const auto reply = send({"on", "--for", "10m"});
    EXPECT_EQ(reply["ok"], false);
    EXPECT_EQ(reply["message"],
              "Couldn't keep the computer awake: the system's authorization (polkit) refused it "
              "(logind: Permission denied). Lumenor keeps the request and tries again, at once "
              "when logind, polkit, a portal or your session changes; polkit allows it in an "
              "active local session, while polkitd runs, or to root.");
    EXPECT_EQ(ours(), none);

    // `run` takes all or nothing: no command, no hold, not even for a moment, and its own status.
    const auto marker = sandbox.home() / "ran";
    const Finished refused =
        run("setpriv", user + QStringList{toolPath, "run", "--", "touch", QString(marker.c_str())},
            environment);
    EXPECT_EQ(refused.status, 125);
    EXPECT_TRUE(refused.err.ends_with("Nothing was run; polkit allows it in an active local "
                                      "session, while polkitd runs, or to root.\n"))
        << refused.err;
    EXPECT_FALSE(std::filesystem::exists(marker));
    const std::string log = readFile(sandbox.home() / ".local/state/lumenor/lumenor.log");
    EXPECT_EQ(log.find("Hold taken"), std::string::npos) << log;
}

} // namespace
