// The app on real desktop parts: an X server with or without a tint2 tray, and a
// StatusNotifierItem watcher and the portal's settings played on a private session bus.
#include "App/Processes.h"
#include "Lumenor/Platform/PowerControl.h"
#include "UI/XDesktop.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>

namespace {

QVariant call(const PrivateBus& bus, const QString& service, const QString& path,
              const QString& interface, const QString& method, const QVariantList& arguments = {}) {
    QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
    message.setArguments(arguments);
    const auto connection = QDBusConnection::connectToBus(bus.address(), "tray-test");
    return connection.call(message, QDBus::Block, 10000).arguments().value(0);
}

/// The app on `desktop`'s display with `bus` as both buses, `platform` asked for.
struct App : Sandbox, Child {
    App(const XDesktop& desktop, const PrivateBus& bus, const QString& platform = {})
        : Child(appPath, {}, on(desktop, bus, platform)) {}
    QProcessEnvironment on(const XDesktop& desktop, const PrivateBus& bus,
                           const QString& platform) {
        withLogind = false; // its bus is replaced here
        QProcessEnvironment environment = Sandbox::environment();
        for (const auto& [name, value] : {std::pair{"QT_QPA_PLATFORM", platform},
                                          {"DISPLAY", desktop.display},
                                          {"DBUS_SESSION_BUS_ADDRESS", QString(bus.address())},
                                          {"DBUS_SYSTEM_BUS_ADDRESS", QString(bus.address())}})
            environment.insert(name, value);
        return environment;
    }
};

} // namespace

TEST(Desktop, OnX11QtPicksThePlatformALateTrayGetsAReadableIconAndTheDisplayIsHeld) {
    ensureApplication();
    XDesktop desktop;
    if (desktop.display.isEmpty())
        GTEST_SKIP() << "needs Xvfb, openbox, tint2 and import (scripts/setup)";
    const PrivateBus bus; // no StatusNotifierItem host: the icon is embedded
    for (const auto& [platform, shows] :
         {std::pair{"wayland-generic", false}, {"nosuch;xcb", true}}) {
        App app(desktop, bus, platform);
        QTest::qWait(1500);
        const Finished show = run(toolPath, {"show"}, app.processEnvironment());
        EXPECT_EQ(show.out.starts_with("Showing the panel."), shows) << platform << show.err;
        EXPECT_EQ(app.err().find("the Qt platform \"wayland-generic\"") != std::string::npos,
                  !shows);
        EXPECT_EQ(app.state(), QProcess::Running) << platform;
    }

    const App app(desktop, bus);
    QTest::qWait(3500); // later than any fixed look at the tray after the start
    desktop.startTray("#1e1e1e");
    double best = 0;
    QTest::qWaitFor(
        [&] {
            const QImage screen = desktop.screenshot();
            for (int y = screen.height() - 30; y < screen.height() - 2; ++y)
                for (int x = 0; x < screen.width(); ++x)
                    best = std::max(best, MenuTheme::contrast(screen.pixelColor(x, y),
                                                              QColor(0x1e, 0x1e, 0x1e)));
            return best >= 3.0;
        },
        15000);
    EXPECT_GE(best, 3.0) << "the icon on a dark tray";

    // No screen saver service on our bus: the X server's own saver is held off.
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus");
    qputenv("DISPLAY", desktop.display.toUtf8());
    const auto display = PowerControl::makeAssertion(PowerControl::displayAssertionType, "test");
    display->set(true);
    EXPECT_EQ(display->heldBy(), std::vector<std::string>{"x11"});
    display->set(false);
}

TEST(Desktop, AStatusNotifierHostGetsOurThemeIconAndPixmapsInkedForTheColourScheme) {
    ensureApplication();
    XDesktop desktop;
    if (desktop.display.isEmpty())
        GTEST_SKIP() << "needs Xvfb, openbox, tint2 and import (scripts/setup)";
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
    // The bars the schemes stand for: GNOME's dark one, a light one.
    for (const auto& [scheme, bar] :
         {std::pair{0, QColor(0x23, 0x23, 0x23)}, {2, QColor(0xf6, 0xf5, 0xf4)}}) {
        bus.addMethods(portal, portalPath,
                       {{"", "Read", "ss", "v", QString("ret = dbus.UInt32(%1)").arg(scheme)}});
        const QString before = call(bus, watcher, watcherPath, watcher, "Item").toString();
        const App app(desktop, bus);
        QString item;
        ASSERT_TRUE(QTest::qWaitFor([&] {
            item = call(bus, watcher, watcherPath, watcher, "Item").toString();
            return item != before;
        }));
        const auto property = [&](const char* name) {
            return call(bus, item, "/StatusNotifierItem", "org.freedesktop.DBus.Properties", "Get",
                        {"org.kde.StatusNotifierItem", name})
                .value<QDBusVariant>()
                .variant();
        };
        const QString icon = property("IconName").toString();
        EXPECT_TRUE(QFile::exists(LUMENOR_BINARY_DIR "/share/icons/hicolor/scalable/status/" +
                                  icon + ".svg"))
            << icon.toStdString();
        // The first image, ARGB32 in network byte order: its most opaque pixel is the ink.
        const QDBusArgument pixmaps = property("IconPixmap").value<QDBusArgument>();
        int width = 0, height = 0;
        QByteArray data;
        pixmaps.beginArray();
        pixmaps.beginStructure();
        pixmaps >> width >> height >> data;
        const auto* pixel = reinterpret_cast<const uchar*>(data.constData());
        for (qsizetype i = 4; i + 3 < data.size(); i += 4)
            pixel =
                data[i] > pixel[0] ? reinterpret_cast<const uchar*>(data.constData() + i) : pixel;
        EXPECT_GE(MenuTheme::contrast(QColor(pixel[1], pixel[2], pixel[3]), bar), 3.0) << scheme;
    }
}
