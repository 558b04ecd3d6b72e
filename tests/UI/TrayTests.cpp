// The app on real desktop parts: an X server with or without a tint2 tray, and a
// StatusNotifierItem watcher and the portal's settings played on a private session bus.
#include "App/Processes.h"
#include "Lumenor/Platform/PowerControl.h"
#include "UI/XDesktop.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QFile>
#include <QTest>

namespace {

QVariant call(const PrivateBus& bus, const QString& service, const QString& path,
              const QString& interface, const QString& method, const QVariantList& arguments) {
    QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
    message.setArguments(arguments);
    const auto connection = QDBusConnection::connectToBus(bus.address(), "tray-test");
    return connection.call(message, QDBus::Block, 10000).arguments().value(0);
}

/// The sandbox's environment on `desktop`'s display and `bus`, with `platform` asked for.
QProcessEnvironment on(Sandbox& sandbox, const XDesktop& desktop, const PrivateBus& bus,
                       const QString& platform = {}) {
    sandbox.withLogind = false; // its bus is replaced below
    QProcessEnvironment environment = sandbox.environment();
    for (const auto& [name, value] : {std::pair{"QT_QPA_PLATFORM", platform},
                                      {"DISPLAY", desktop.display()},
                                      {"DBUS_SESSION_BUS_ADDRESS", QString(bus.address())},
                                      {"DBUS_SYSTEM_BUS_ADDRESS", QString(bus.address())}})
        environment.insert(name, value);
    return environment;
}

/// The colour of the most opaque pixel of the first image of an IconPixmap value (ARGB32 in
/// network byte order).
QColor inkOf(const QDBusArgument& pixmaps) {
    int width = 0, height = 0;
    QByteArray data;
    pixmaps.beginArray();
    pixmaps.beginStructure();
    pixmaps >> width >> height >> data;
    QColor ink;
    for (qsizetype i = 0, alpha = 0; i + 3 < data.size(); i += 4) {
        const auto byte = [&](int k) { return static_cast<unsigned char>(data[i + k]); };
        if (byte(0) > alpha) {
            alpha = byte(0);
            ink = QColor(byte(1), byte(2), byte(3));
        }
    }
    return ink;
}

#define NEEDS_DESKTOP(desktop)                                                                     \
    if ((desktop).display().isEmpty())                                                             \
    GTEST_SKIP() << "needs Xvfb, openbox, tint2 and import (scripts/setup)"

} // namespace

TEST(Desktop, QtPicksThePlatformAndOneThatCannotOpenLeavesTheAppHeadlessNamingIt) {
    ensureApplication();
    const XDesktop desktop;
    NEEDS_DESKTOP(desktop);
    const PrivateBus bus;
    for (const auto& [platform, shows] :
         {std::pair{"wayland-generic", false}, {"nosuch", false}, {"wayland;xcb", true}}) {
        Sandbox sandbox;
        Child app(appPath, {}, on(sandbox, desktop, bus, platform));
        QTest::qWait(1500);
        const Finished show = run(toolPath, {"show"}, on(sandbox, desktop, bus));
        EXPECT_EQ(show.out.starts_with("Showing the panel."), shows) << platform << show.err;
        if (!shows)
            EXPECT_NE(app.err().find("the Qt platform \"" + std::string(platform) + "\""),
                      std::string::npos);
        EXPECT_EQ(app.state(), QProcess::Running) << platform;
    }
}

TEST(Desktop, AStatusNotifierHostGetsOurThemeIconAndPixmapsInkedForTheColourScheme) {
    ensureApplication();
    const XDesktop desktop;
    NEEDS_DESKTOP(desktop);
    PrivateBus bus;
    const QString watcher = "org.kde.StatusNotifierWatcher", watcherPath = "/StatusNotifierWatcher";
    const QString portal = "org.freedesktop.portal.Desktop";
    const QString portalPath = "/org/freedesktop/portal/desktop";
    ASSERT_TRUE(bus.startMock({watcher, watcherPath, watcher}, watcher));
    ASSERT_TRUE(bus.startMock({portal, portalPath, "org.freedesktop.portal.Settings"}, portal));
    call(bus, watcher, watcherPath, "org.freedesktop.DBus.Mock", "AddProperty",
         {watcher, "IsStatusNotifierHostRegistered", QVariant::fromValue(QDBusVariant(true))});
    bus.addMethods(watcher, watcherPath,
                   {{"", "RegisterStatusNotifierItem", "s", "", "self.item = args[0]"},
                    {"", "Item", "", "s", "ret = getattr(self, 'item', '')"}});
    // The bars the schemes stand for: GNOME's and sway's dark ones, a light one.
    for (const auto& [scheme, bar] : {std::pair{1, QColor(0x23, 0x23, 0x23)},
                                      {0, QColor(0, 0, 0)},
                                      {2, QColor(0xf6, 0xf5, 0xf4)}}) {
        bus.addMethods(portal, portalPath,
                       {{"", "Read", "ss", "v", QString("ret = dbus.UInt32(%1)").arg(scheme)}});
        const QString before = call(bus, watcher, watcherPath, watcher, "Item", {}).toString();
        Sandbox sandbox;
        Child app(appPath, {}, on(sandbox, desktop, bus));
        QString item;
        ASSERT_TRUE(QTest::qWaitFor([&] {
            item = call(bus, watcher, watcherPath, watcher, "Item", {}).toString();
            return item != before;
        }));
        const auto property = [&](const char* name) {
            return call(bus, item, "/StatusNotifierItem", "org.freedesktop.DBus.Properties", "Get",
                        {"org.kde.StatusNotifierItem", name})
                .value<QDBusVariant>()
                .variant();
        };
        const QString icon = property("IconName").toString();
        EXPECT_EQ(icon, "com.corvata.lumenor-off-symbolic");
        EXPECT_TRUE(QFile::exists(LUMENOR_BINARY_DIR "/share/icons/hicolor/scalable/status/" +
                                  icon + ".svg"));
        const QColor ink = inkOf(property("IconPixmap").value<QDBusArgument>());
        EXPECT_GE(contrast(ink, bar), 3.0) << scheme << " " << ink.name().toStdString();
    }
}

TEST(Desktop, AnX11TrayThatStartsLateGetsAnIconThatReadsOnIt) {
    ensureApplication();
    for (const QColor background : {QColor(0x1e, 0x1e, 0x1e), QColor(0xee, 0xee, 0xee)}) {
        XDesktop desktop;
        NEEDS_DESKTOP(desktop);
        const PrivateBus bus; // no StatusNotifierItem host: the icon is embedded
        Sandbox sandbox;
        Child app(appPath, {}, on(sandbox, desktop, bus));
        QTest::qWait(3500); // later than any fixed look at the tray after the start
        desktop.startTray(background.name());
        double best = 0;
        QTest::qWaitFor(
            [&] {
                const QImage screen = desktop.screenshot();
                for (int y = screen.height() - 30; y < screen.height() - 2; ++y)
                    for (int x = 0; x < screen.width(); ++x)
                        best = std::max(best, contrast(screen.pixelColor(x, y), background));
                return best >= 3.0;
            },
            15000);
        EXPECT_GE(best, 3.0) << "on " << background.name().toStdString();
    }
}

TEST(Desktop, DisplayOnHoldsOffTheXServersOwnScreenSaverWhereNoServiceRuns) {
    ensureApplication();
    const XDesktop desktop;
    NEEDS_DESKTOP(desktop);
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus");
    qputenv("DISPLAY", desktop.display().toUtf8());
    const auto display =
        PowerControl::makeAssertion(PowerControl::displayAssertionType, "Lumenor keep display on");
    for (const char* wayland : {"", "wayland-0"}) {
        qputenv("WAYLAND_DISPLAY", wayland);
        display->set(true);
        EXPECT_EQ(display->heldBy(), std::vector<std::string>(*wayland ? 0 : 1, "x11")) << wayland;
        display->set(false);
    }
    qunsetenv("WAYLAND_DISPLAY");
}
