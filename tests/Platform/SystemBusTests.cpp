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
#include <future>

namespace {

const QString login1 = QStringLiteral("org.freedesktop.login1");
const QString manager = QStringLiteral("org.freedesktop.login1.Manager");
const QString screenSaver = QStringLiteral("org.freedesktop.ScreenSaver");
const QString mockInterface = QStringLiteral("org.freedesktop.DBus.Mock");

/// Most services serve their interface at the path spelled like their name.
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

/// The arguments of each call of `method` the mock object at `path` (or `service`'s) has logged.
std::vector<QVariantList> calls(const QString& service, const QString& method,
                                const QString& path = {}) {
    const auto list = call(service, path.isEmpty() ? pathOf(service) : path, mockInterface,
                           "GetMethodCalls", {method})
                          .value<QDBusArgument>();
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

const QString portal = QStringLiteral("org.freedesktop.portal.Desktop");
const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString requestPath = portalPath + "/request/1_1/lumenor";
const QString mutter = QStringLiteral("org.gnome.Mutter.DisplayConfig");
const QString powerManager = QStringLiteral("org.freedesktop.PowerManagement");
const QString powerManagerPath = QStringLiteral("/org/freedesktop/PowerManagement/Inhibit");

/// The bus and its mocks: logind on the "system" bus; the screen saver, the desktop portal and
/// the power manager on the "session" bus, which is the same daemon.
class Mocks : public ::testing::Environment {
public:
    static inline PrivateBus* bus;
    void SetUp() override {
        ASSERT_NE(bus = logindBus(), nullptr) << "dbus-daemon or the mock logind did not start";
        qputenv("DBUS_SESSION_BUS_ADDRESS", bus->address());
        ASSERT_TRUE(bus->startMock({screenSaver, pathOf(screenSaver), screenSaver}, screenSaver));
        // The cookie is 0, a value a careless caller would take for "not held".
        bus->addMethods(screenSaver, pathOf(screenSaver),
                        {{"", "Inhibit", "ss", "u", "ret = 0"},
                         {"", "UnInhibit", "u", "", ""},
                         {"", "SimulateUserActivity", "", "", ""}});
        ASSERT_TRUE(bus->startMock({portal, portalPath, "org.freedesktop.portal.Inhibit"}, portal));
        // Each inhibitor is a request object, to be closed to release it; a backend that cannot
        // inhibit answers on the request.
        bus->addMethods(portal, portalPath,
                        {{"", "Inhibit", "sua{sv}", "o", "path = '" + requestPath + R"('
try:
    self.AddObject(path, 'org.freedesktop.portal.Request', {}, [('Close', '', '', '')])
except dbus.exceptions.DBusException:
    pass
if 'refused' in args[2].get('reason', ''):
    get_object(path).EmitSignal('org.freedesktop.portal.Request', 'Response', 'ua{sv}',
                                [dbus.UInt32(2), {}])
ret = dbus.ObjectPath(path))"}});
        ASSERT_TRUE(bus->startMock(
            {powerManager, powerManagerPath, "org.freedesktop.PowerManagement.Inhibit"},
            powerManager));
        ASSERT_TRUE(bus->startMock({mutter, pathOf(mutter), mutter}, mutter));
        bus->addMethods(powerManager, powerManagerPath,
                        {{"", "Inhibit", "ss", "u", "ret = 7"}, {"", "UnInhibit", "u", "", ""}});
    }
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
    EXPECT_EQ(system->heldBy(), (std::vector<std::string>{"logind", "portal", "power-manager"}));
    EXPECT_EQ(display->heldBy(), (std::vector<std::string>{"screensaver", "portal"}));
    // The mock logind lists what it was asked for, owned by its stand-in uid and pid.
    EXPECT_EQ(PowerControl::listInhibitors(),
              (std::vector<PowerControl::Inhibitor>{
                  {"sleep:idle", "Lumenor", "Lumenor keep-awake session", "block", 1000, 123456}}));
    const auto portalCalls = calls(portal, "Inhibit", portalPath);
    ASSERT_EQ(portalCalls.size(), 2u);
    EXPECT_EQ(portalCalls[0].value(1), 4u | 8u) << "suspend and idle";
    EXPECT_EQ(portalCalls[1].value(1), 8u) << "idle, for the display";
    EXPECT_EQ(calls(powerManager, "Inhibit", powerManagerPath),
              (std::vector{QVariantList{"Lumenor", "Lumenor keep-awake session"}}));
    EXPECT_EQ(calls(screenSaver, "Inhibit"),
              (std::vector{QVariantList{"Lumenor", "Lumenor keep display on"}}));

    system->set(false);
    display->set(false);
    EXPECT_TRUE(system->heldBy().empty());
    // logind drops an inhibitor when the last copy of its descriptor is closed.
    EXPECT_TRUE(QTest::qWaitFor([] { return PowerControl::listInhibitors().value().empty(); }));
    EXPECT_TRUE(QTest::qWaitFor([] {
        return calls(portal, "Close", requestPath).size() == 2 &&
               calls(powerManager, "UnInhibit", powerManagerPath) ==
                   std::vector{QVariantList{7u}} &&
               calls(screenSaver, "UnInhibit") == std::vector{QVariantList{0u}};
    })) << "each given back with what it handed out";
}

TEST(SystemBus, APortalWhoseBackendRefusesIsNotListedAsHolding) {
    const auto system =
        PowerControl::makeAssertion(PowerControl::systemAssertionType, "refused by the backend");
    system->set(true);
    // Known when the take returns, so that the reply to a request never claims the portal.
    EXPECT_EQ(system->heldBy(), (std::vector<std::string>{"logind", "power-manager"}));
    system->set(false);
}

TEST(SystemBus, SleepNowSuspendsOnceAndTheDisplayWakesAndOnGnomeWaylandSleepsThroughMutter) {
    // The engine suspends from its worker thread, not from the one that owns the connection.
    EXPECT_EQ(std::async(std::launch::async, PowerControl::sleepNow).get(),
              (PowerControl::RunResult{0, ""}));
    EXPECT_EQ(PowerControl::sleepProblem(), std::nullopt);
    EXPECT_EQ(calls(login1, "Suspend"), (std::vector{QVariantList{false}}));
    PowerControl::wakeDisplay();
    EXPECT_TRUE(
        QTest::qWaitFor([] { return calls(screenSaver, "SimulateUserActivity").size() == 1; }));

    call(mutter, pathOf(mutter), mockInterface, "AddProperty",
         {mutter, "PowerSaveMode", QVariant::fromValue(QDBusVariant(0))});
    ::setenv("WAYLAND_DISPLAY", "wayland-0", 1);
    EXPECT_EQ(PowerControl::displaySleepProblem(), std::nullopt);
    EXPECT_EQ(PowerControl::displaySleepNow(), (PowerControl::RunResult{0, ""}));
    const QVariant mode = call(mutter, pathOf(mutter), "org.freedesktop.DBus.Properties", "Get",
                               {mutter, "PowerSaveMode"});
    EXPECT_EQ(mode.value<QDBusVariant>().variant(), QVariant(3));
    ::unsetenv("WAYLAND_DISPLAY");
}

TEST(SystemBus, TheWorkspaceHearsResumePowerServicesAndUPowerWhileWatched) {
    const QString upower = QStringLiteral("org.freedesktop.UPower");
    const QString display = QStringLiteral("/org/freedesktop/UPower/devices/DisplayDevice");
    LinuxWorkspace workspace;
    QSignalSpy woke(&workspace, &Workspace::resumedFromSuspend);
    QSignalSpy appeared(&workspace, &Workspace::powerServiceAppeared);
    QSignalSpy changed(&workspace, &Workspace::batteryChanged);
    for (bool starting : {true, false})
        call(login1, pathOf(login1), mockInterface, "EmitSignal",
             {manager, "PrepareForSleep", "b", QVariant::fromValue(QVariantList{starting})});
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

TEST(SystemBus, LidInhibitorHoldsTheLidWhileRenewedAndAboveTheFloor) {
    std::atomic<int64_t> percent = 80;
    LidInhibitor lid({.lease = std::chrono::milliseconds(300)}, [&] {
        return PowerControl::Battery{true, percent.load()};
    });
    lid.setBatteryFloor(10);
    EXPECT_TRUE(lid.available());
    EXPECT_TRUE(QTest::qWaitFor([] { return lidHolders().empty(); })) << "the trial is given back";

    EXPECT_EQ(lid.take(), PowerResult{});
    EXPECT_EQ(lid.take(), PowerResult{});
    EXPECT_EQ(lidHolders(), ourLid) << "one inhibitor, on the lid switch";
    EXPECT_EQ(lid.renew(), PowerResult{});
    lid.release();
    EXPECT_TRUE(QTest::qWaitFor([] { return lidHolders().empty(); }));
    lid.release();
    EXPECT_EQ(lid.renew(), PowerResult::failed("the lid is not held"));

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

} // namespace
