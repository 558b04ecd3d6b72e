// Assertions, sleep and wake against a private dbus-daemon on which python-dbusmock plays logind
// (the system bus) and the screen saver (the session bus). One bus serves the whole program:
// QtDBus keeps its bus connections for the life of the process.
#include "Lumenor/Platform/LidInhibitor.h"
#include "Lumenor/Platform/LinuxWorkspace.h"
#include "Lumenor/Platform/LogindInhibitors.h"
#include "Lumenor/Platform/PowerControl.h"
#include "Lumenor/Platform/PowerPlatform.h"
#include "Platform/PlatformTestSupport.h"
#include "Support/PrivateBus.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <future>
#include <unistd.h>

namespace {

const QString login1 = QStringLiteral("org.freedesktop.login1");
const QString manager = QStringLiteral("org.freedesktop.login1.Manager");
const QString screenSaver = QStringLiteral("org.freedesktop.ScreenSaver");
const QString mockInterface = QStringLiteral("org.freedesktop.DBus.Mock");

/// Both services serve their interface at the path spelled like their name.
QString pathOf(const QString& service) {
    return '/' + QString(service).replace('.', '/');
}

/// Calls a method and returns the first value of its reply; fails the test on an error reply.
QVariant call(const QString& service, const QString& path, const QString& interface,
              const QString& method, const QVariantList& arguments = {}) {
    QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
    message.setArguments(arguments);
    const QDBusMessage reply = QDBusConnection::sessionBus().call(message, QDBus::Block, 10000);
    EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage)
        << method.toStdString() << ": " << reply.errorMessage().toStdString();
    return reply.arguments().value(0);
}

/// The arguments of each call of `method` the mock object at `path` has logged.
std::vector<QVariantList> calls(const QString& service, const QString& path,
                                const QString& method) {
    const auto list =
        call(service, path, mockInterface, "GetMethodCalls", {method}).value<QDBusArgument>();
    std::vector<QVariantList> result;
    list.beginArray();
    while (!list.atEnd()) {
        qulonglong timestamp = 0;
        list.beginStructure();
        list >> timestamp >> result.emplace_back();
        list.endStructure();
    }
    return result;
}

std::vector<QVariantList> calls(const QString& service, const QString& method) {
    return calls(service, pathOf(service), method);
}

const QString portal = QStringLiteral("org.freedesktop.portal.Desktop");
const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString requestPath = portalPath + "/request/1_1/lumenor";
const QString mutter = QStringLiteral("org.gnome.Mutter.DisplayConfig");
const QString mutterPath = QStringLiteral("/org/gnome/Mutter/DisplayConfig");
const QString powerManager = QStringLiteral("org.freedesktop.PowerManagement");
const QString powerManagerPath = QStringLiteral("/org/freedesktop/PowerManagement/Inhibit");

/// The bus and its mocks: logind on the "system" bus; the screen saver, the desktop portal and
/// the power manager on the "session" bus, which is the same daemon.
class Mocks : public ::testing::Environment {
public:
    static inline PrivateBus* bus = nullptr;
    void SetUp() override {
        ensureApplication();
        bus_ = std::make_unique<PrivateBus>();
        bus = bus_.get();
        ASSERT_FALSE(bus_->address().isEmpty()) << "dbus-daemon did not start";
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", bus_->address());
        qputenv("DBUS_SESSION_BUS_ADDRESS", bus_->address());
        ASSERT_TRUE(bus_->startMock({"--template", "logind"}, login1));
        ASSERT_TRUE(bus_->startMock({screenSaver, pathOf(screenSaver), screenSaver}, screenSaver));
        // The cookie is 0, a value a careless caller would take for "not held".
        bus_->addMethods(screenSaver, pathOf(screenSaver),
                         {{"", "Inhibit", "ss", "u", "ret = 0"},
                          {"", "UnInhibit", "u", "", ""},
                          {"", "SimulateUserActivity", "", "", ""}});
        ASSERT_TRUE(
            bus_->startMock({portal, portalPath, "org.freedesktop.portal.Inhibit"}, portal));
        // Each inhibitor is a request object, to be closed to release it.
        bus_->addMethods(portal, portalPath,
                         {{"", "Inhibit", "sua{sv}", "o",
                           "try:\n    self.AddObject('" + requestPath +
                               "', 'org.freedesktop.portal.Request', {}, [('Close', '', '', '')])\n"
                               "except dbus.exceptions.DBusException:\n    pass\n"
                               "ret = dbus.ObjectPath('" +
                               requestPath + "')"}});
        ASSERT_TRUE(bus_->startMock(
            {powerManager, powerManagerPath, "org.freedesktop.PowerManagement.Inhibit"},
            powerManager));
        ASSERT_TRUE(bus_->startMock({mutter, mutterPath, mutter}, mutter));
        bus_->addMethods(powerManager, powerManagerPath,
                         {{"", "Inhibit", "ss", "u", "ret = 7"}, {"", "UnInhibit", "u", "", ""}});
    }
    void TearDown() override { bus_.reset(); }

private:
    std::unique_ptr<PrivateBus> bus_;
};

const auto* const environment = ::testing::AddGlobalTestEnvironment(new Mocks);

// The mocks log every call; each test looks only at methods no other test calls.

TEST(SystemBus, EveryMechanismIsHeldTogetherAndReleasedTogether) {
    const auto system = PowerControl::makeAssertion(PowerControl::systemAssertionType,
                                                    "Lumenor keep-awake session");
    const auto display =
        PowerControl::makeAssertion(PowerControl::displayAssertionType, "Lumenor keep display on");
    for (int twice = 0; twice < 2; ++twice) {
        system->set(true);
        display->set(true);
    }
    EXPECT_NE(system->id(), 0u);
    EXPECT_NE(display->id(), 0u);
    EXPECT_EQ(system->heldBy(), (std::vector<std::string>{"logind", "portal", "power-manager"}));
    EXPECT_EQ(display->heldBy(), (std::vector<std::string>{"screensaver", "portal"}));
    // The mock logind lists what it was asked for, owned by its stand-in uid and pid.
    EXPECT_EQ(PowerControl::listInhibitors(),
              (std::vector<PowerControl::Inhibitor>{
                  {"sleep:idle", "Lumenor", "Lumenor keep-awake session", "block", 1000, 123456}}));
    const auto portalCalls = calls(portal, portalPath, "Inhibit");
    ASSERT_EQ(portalCalls.size(), 2u);
    EXPECT_EQ(portalCalls[0].value(1), 4u | 8u) << "suspend and idle";
    EXPECT_EQ(portalCalls[1].value(1), 8u) << "idle, for the display";
    EXPECT_EQ(calls(powerManager, powerManagerPath, "Inhibit"),
              (std::vector{QVariantList{"Lumenor", "Lumenor keep-awake session"}}));
    EXPECT_EQ(calls(screenSaver, "Inhibit"),
              (std::vector{QVariantList{"Lumenor", "Lumenor keep display on"}}));

    system->set(false);
    display->set(false);
    EXPECT_EQ(system->id(), 0u);
    EXPECT_TRUE(system->heldBy().empty());
    // logind drops an inhibitor when the last copy of its descriptor is closed.
    EXPECT_TRUE(QTest::qWaitFor([] { return PowerControl::listInhibitors().value().empty(); }));
    EXPECT_TRUE(QTest::qWaitFor([] {
        return calls(portal, requestPath, "Close").size() == 2 &&
               calls(powerManager, powerManagerPath, "UnInhibit") ==
                   std::vector{QVariantList{7u}} &&
               calls(screenSaver, "UnInhibit") == std::vector{QVariantList{0u}};
    })) << "each given back with what it handed out";
}

TEST(SystemBus, SleepNowSuspendsOnceAndWakeDisplayDeclaresActivity) {
    // The engine suspends from its worker thread, not from the one that owns the connection.
    const auto result = std::async(std::launch::async, PowerControl::sleepNow).get();
    EXPECT_EQ(result, (PowerControl::RunResult{0, ""}));
    EXPECT_EQ(PowerControl::sleepProblem(), std::nullopt);
    EXPECT_EQ(calls(login1, "Suspend"), (std::vector{QVariantList{false}}));
    PowerControl::wakeDisplay();
    EXPECT_TRUE(
        QTest::qWaitFor([] { return calls(screenSaver, "SimulateUserActivity").size() == 1; }));
}

TEST(SystemBus, OnGnomeWaylandTheDisplayGoesOffThroughMutter) {
    call(mutter, mutterPath, mockInterface, "AddProperty",
         {mutter, "PowerSaveMode", QVariant::fromValue(QDBusVariant(0))});
    ::setenv("WAYLAND_DISPLAY", "wayland-0", 1);
    ::unsetenv("SWAYSOCK");
    EXPECT_EQ(PowerControl::displaySleepProblem(), std::nullopt);
    EXPECT_EQ(PowerControl::displaySleepNow(), (PowerControl::RunResult{0, ""}));
    EXPECT_EQ(call(mutter, mutterPath, "org.freedesktop.DBus.Properties", "Get",
                   {mutter, "PowerSaveMode"})
                  .value<QDBusVariant>()
                  .variant(),
              QVariant(3));
    ::unsetenv("WAYLAND_DISPLAY");
}

TEST(SystemBus, TheWorkspaceHearsResumePowerServicesAndUPowerWhileWatched) {
    const QString upower = QStringLiteral("org.freedesktop.UPower");
    const QString display = QStringLiteral("/org/freedesktop/UPower/devices/DisplayDevice");
    LinuxWorkspace workspace;
    QSignalSpy woke(&workspace, &Workspace::resumedFromSuspend);
    QSignalSpy appeared(&workspace, &Workspace::powerServiceAppeared);
    QSignalSpy changed(&workspace, &Workspace::batteryChanged);
    for (bool starting : {true, false}) {
        call(login1, pathOf(login1), mockInterface, "EmitSignal",
             {manager, "PrepareForSleep", "b", QVariant::fromValue(QVariantList{starting})});
    }
    QDBusConnection polkit = QDBusConnection::connectToBus(Mocks::bus->address(), "polkit");
    ASSERT_TRUE(polkit.registerService("org.freedesktop.PolicyKit1"));
    workspace.watchBattery(true);
    ASSERT_TRUE(Mocks::bus->startMock({"--template", "upower"}, upower)) << "it arrives late";
    const auto set = [&](const QString& path, const QString& name, const QVariant& value) {
        const QString interface = path == display ? upower + ".Device" : upower;
        call(upower, path, "org.freedesktop.DBus.Properties", "Set",
             {interface, name, QVariant::fromValue(QDBusVariant(value))});
    };
    set(pathOf(upower), "OnBattery", true);
    EXPECT_TRUE(QTest::qWaitFor([&] { return changed.count() == 1 && appeared.count() > 0; }));
    set(display, "EnergyRate", 7.5); // not part of a reading
    set(display, "Percentage", 42.0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return changed.count() == 2; }));
    workspace.watchBattery(false);
    set(display, "State", 2u);
    QTest::qWait(200);
    EXPECT_EQ(changed.count(), 2);
    EXPECT_EQ(woke.count(), 1) << "only the end of sleep is a resume";
    EXPECT_EQ(appeared.count(), 1) << "polkit, not UPower";
    QDBusConnection::disconnectFromBus("polkit");
}

/// The inhibitors on the lid switch that logind holds now.
std::vector<PowerControl::Inhibitor> lidHolders() {
    std::vector<PowerControl::Inhibitor> holders;
    const auto listed = PowerControl::listInhibitors();
    for (const auto& inhibitor : listed.value()) {
        if (inhibitor.blocks("handle-lid-switch")) {
            holders.push_back(inhibitor);
        }
    }
    return holders;
}

TEST(SystemBus, LidInhibitorHoldsTheLidWhileRenewedAndAboveTheFloor) {
    std::atomic<int64_t> percent = 80;
    LidInhibitor lid({.lease = std::chrono::milliseconds(300)},
                     [&] { return PowerControl::Battery{true, percent.load()}; });
    lid.setBatteryFloor(10);
    EXPECT_TRUE(lid.available());
    EXPECT_TRUE(QTest::qWaitFor([] { return lidHolders().empty(); })) << "the trial is given back";
    const PowerResult notHeld = PowerResult::failed("the lid is not held");
    EXPECT_EQ(lid.renew(), notHeld);

    EXPECT_EQ(lid.take(), PowerResult{});
    EXPECT_EQ(lid.take(), PowerResult{});
    EXPECT_EQ(lidHolders(),
              (std::vector<PowerControl::Inhibitor>{{"sleep:idle:handle-lid-switch", "Lumenor",
                                                     "Lid-closed mode", "block", 1000, 123456}}))
        << "one inhibitor, on the lid switch";
    EXPECT_EQ(lid.renew(), PowerResult{});
    lid.release();
    EXPECT_TRUE(QTest::qWaitFor([] { return lidHolders().empty(); }));
    lid.release();
    EXPECT_EQ(lid.renew(), notHeld);

    // A stalled controller loses the lid after the lease, and is told so.
    ASSERT_TRUE(lid.take().ok());
    EXPECT_TRUE(QTest::qWaitFor([&] { return !lid.held() && lidHolders().empty(); }));
    EXPECT_EQ(lid.renew(), PowerResult::failed("it was not renewed in time"));

    ASSERT_TRUE(lid.take().ok());
    percent = 9;
    EXPECT_EQ(lid.renew(), PowerResult::failed("battery below 10%"));
    EXPECT_TRUE(QTest::qWaitFor([] { return lidHolders().empty(); })) << "given back at once";
    EXPECT_EQ(lid.take(), PowerResult::refused("battery below 10%"));
    EXPECT_TRUE(lidHolders().empty());
}

TEST(SystemBus, AnotherHolderOfTheLidSwitchIsNamed) {
    {
        const QVariant held = call(login1, pathOf(login1), manager, "Inhibit",
                                   {"handle-lid-switch", "Power Manager", "lid action", "block"});
        const auto listed = PowerControl::listInhibitors().value();
        EXPECT_EQ(PowerControl::lidHandledBy(listed, static_cast<uint32_t>(getpid())),
                  "Power Manager");
        // Our own inhibitor is never another program's.
        EXPECT_EQ(PowerControl::lidHandledBy(listed, listed.at(0).pid), std::nullopt);
    }
    EXPECT_TRUE(QTest::qWaitFor([] { return lidHolders().empty(); }));
}

// The lid inhibitor lives on the app's own descriptor: nothing is left to clean up after kill -9.
TEST(SystemBus, KillingTheAppGivesTheLidBackAtOnce) {
    QTemporaryDir home;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("LUMENOR_HOME", home.path());
    environment.insert("XDG_CONFIG_HOME", home.filePath("config"));
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    const auto lumenor = [&](const QStringList& arguments) {
        QProcess tool;
        tool.setProcessEnvironment(environment);
        tool.start(LUMENOR_BINARY_DIR "/bin/lumenor", arguments);
        return tool.waitForFinished(10000) ? tool.exitCode() : -1;
    };
    QProcess app;
    app.setProcessEnvironment(environment);
    app.start(LUMENOR_BINARY_DIR "/bin/lumenor-app");
    ASSERT_TRUE(QTest::qWaitFor([&] { return lumenor({"on"}) == 0; }, 20000));
    ASSERT_TRUE(QTest::qWaitFor([] { return !lidHolders().empty(); }, 10000));
    EXPECT_EQ(lidHolders().at(0).why, "Lid-closed mode");
    ::kill(static_cast<pid_t>(app.processId()), SIGKILL);
    app.waitForFinished();
    EXPECT_TRUE(QTest::qWaitFor([] { return lidHolders().empty(); }));
}

} // namespace
