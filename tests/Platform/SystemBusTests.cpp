// Assertions, sleep and wake against a private bus on which python-dbusmock plays logind (the
// system bus) and the screen saver (the session bus). One bus serves the whole program: QtDBus
// keeps its bus connections for the life of the process.
#include "Lumenor/Platform/LinuxWorkspace.h"
#include "Lumenor/Platform/PowerControl.h"
#include "Platform/PrivateBus.h"

#include <QDBusArgument>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <cstdlib>
#include <future>
#include <memory>
#include <tuple>

namespace {

const QString login1 = QStringLiteral("org.freedesktop.login1");
const QString login1Path = QStringLiteral("/org/freedesktop/login1");
const QString screenSaver = QStringLiteral("org.freedesktop.ScreenSaver");
const QString screenSaverPath = QStringLiteral("/org/freedesktop/ScreenSaver");
const QString mockInterface = QStringLiteral("org.freedesktop.DBus.Mock");

PrivateBus* bus = nullptr;

class BusEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        ensureApplication();
        try {
            start();
        } catch (const std::exception& error) {
            GTEST_FAIL() << "private bus: " << error.what();
        }
    }
    void TearDown() override {
        delete bus;
        bus = nullptr;
    }

private:
    static void start() {
        bus = new PrivateBus();
        ::setenv("DBUS_SYSTEM_BUS_ADDRESS", bus->address().c_str(), 1);
        ::setenv("DBUS_SESSION_BUS_ADDRESS", bus->address().c_str(), 1);
        bus->startMock({"--template", "logind"}, login1.toStdString());
        bus->startMock(
            {screenSaver.toStdString(), screenSaverPath.toStdString(), screenSaver.toStdString()},
            screenSaver.toStdString());
        // Cookies start at 0, a value a careless caller would take for "not held".
        bus->call(
            screenSaver, screenSaverPath, mockInterface, QStringLiteral("AddMethod"),
            {QString(), QStringLiteral("Inhibit"), QStringLiteral("ss"), QStringLiteral("u"),
             QStringLiteral("self.cookie = getattr(self, 'cookie', -1) + 1; ret = self.cookie")});
        for (const auto& [method, signature] :
             {std::pair{"UnInhibit", "u"}, std::pair{"SimulateUserActivity", ""}}) {
            bus->call(screenSaver, screenSaverPath, mockInterface, QStringLiteral("AddMethod"),
                      {QString(), QString::fromLatin1(method), QString::fromLatin1(signature),
                       QString(), QString()});
        }
    }
};

const auto* const environment = ::testing::AddGlobalTestEnvironment(new BusEnvironment);

using Inhibitor = std::tuple<std::string, std::string, std::string, std::string>;

std::vector<Inhibitor> inhibitors() {
    const QDBusMessage reply =
        bus->call(login1, login1Path, QStringLiteral("org.freedesktop.login1.Manager"),
                  QStringLiteral("ListInhibitors"));
    std::vector<Inhibitor> result;
    const auto list = reply.arguments().value(0).value<QDBusArgument>();
    list.beginArray();
    while (!list.atEnd()) {
        QString what, who, why, mode;
        uint uid = 0, pid = 0;
        list.beginStructure();
        list >> what >> who >> why >> mode >> uid >> pid;
        list.endStructure();
        result.emplace_back(what.toStdString(), who.toStdString(), why.toStdString(),
                            mode.toStdString());
    }
    list.endArray();
    return result;
}

class SystemBus : public ::testing::Test {
protected:
    void SetUp() override {
        for (const auto& [service, path] :
             {std::pair{login1, login1Path}, std::pair{screenSaver, screenSaverPath}}) {
            bus->call(service, path, mockInterface, QStringLiteral("ClearCalls"));
        }
    }
};

TEST_F(SystemBus, SystemAssertionHoldsOneInhibitorExactlyWhileSet) {
    const auto assertion = PowerControl::makeAssertion(PowerControl::systemAssertionType,
                                                       "Lumenor keep-awake session");
    assertion->set(true);
    const uint32_t id = assertion->id();
    EXPECT_NE(id, 0u);
    assertion->set(true);
    EXPECT_EQ(assertion->id(), id);
    const std::vector<Inhibitor> held = {
        {"sleep:idle", "Lumenor", "Lumenor keep-awake session", "block"}};
    EXPECT_EQ(inhibitors(), held);
    EXPECT_EQ(bus->methodCalls(login1, login1Path, QStringLiteral("Inhibit")).size(), 1u);

    assertion->set(false);
    EXPECT_EQ(assertion->id(), 0u);
    // logind drops an inhibitor when the last copy of its descriptor is closed.
    EXPECT_TRUE(waitUntil([] { return inhibitors().empty(); }));
    assertion->set(false);
    EXPECT_EQ(bus->methodCalls(login1, login1Path, QStringLiteral("Inhibit")).size(), 1u);
}

TEST_F(SystemBus, DisplayAssertionReleasesTheCookieItWasGiven) {
    const auto assertion =
        PowerControl::makeAssertion(PowerControl::displayAssertionType, "Lumenor keep display on");
    const auto calls = [](const char* method) {
        return bus->methodCalls(screenSaver, screenSaverPath, QString::fromLatin1(method));
    };
    for (uint cookie : {0u, 1u}) {
        assertion->set(true);
        assertion->set(true);
        EXPECT_NE(assertion->id(), 0u) << "cookie " << cookie;
        assertion->set(false);
        assertion->set(false);
        EXPECT_EQ(assertion->id(), 0u);
        ASSERT_TRUE(waitUntil([&] { return calls("UnInhibit").size() == cookie + 1; }));
        EXPECT_EQ(calls("UnInhibit").back(), QVariantList{cookie});
    }
    const auto inhibits = calls("Inhibit");
    ASSERT_EQ(inhibits.size(), 2u);
    EXPECT_EQ(inhibits[0],
              (QVariantList{QStringLiteral("Lumenor"), QStringLiteral("Lumenor keep display on")}));
}

TEST_F(SystemBus, SleepNowSuspendsOnceAndWakeDisplayDeclaresActivity) {
    // The engine suspends from its worker thread, not from the one that owns the connection.
    const PowerControl::RunResult result =
        std::async(std::launch::async, PowerControl::sleepNow).get();
    EXPECT_EQ(result.code, 0) << result.output;
    const auto suspends = bus->methodCalls(login1, login1Path, QStringLiteral("Suspend"));
    ASSERT_EQ(suspends.size(), 1u);
    EXPECT_EQ(suspends[0], QVariantList{false});

    PowerControl::wakeDisplay();
    EXPECT_TRUE(waitUntil([] {
        return bus->methodCalls(screenSaver, screenSaverPath,
                                QStringLiteral("SimulateUserActivity"))
                   .size() == 1;
    }));
}

TEST_F(SystemBus, OnlyTheEndOfSleepCountsAsWaking) {
    LinuxWorkspace workspace;
    QSignalSpy woke(&workspace, &Workspace::didWake);
    const auto prepareForSleep = [](bool starting) {
        bus->call(login1, login1Path, mockInterface, QStringLiteral("EmitSignal"),
                  {QStringLiteral("org.freedesktop.login1.Manager"),
                   QStringLiteral("PrepareForSleep"), QStringLiteral("b"),
                   QVariant::fromValue(QVariantList{starting})});
    };
    prepareForSleep(true);
    EXPECT_FALSE(waitUntil([&] { return woke.count() > 0; }, std::chrono::milliseconds(300)));
    prepareForSleep(false);
    ASSERT_TRUE(waitUntil([&] { return woke.count() > 0; }));
    waitUntil([] { return false; }, std::chrono::milliseconds(100));
    EXPECT_EQ(woke.count(), 1);
}

} // namespace
