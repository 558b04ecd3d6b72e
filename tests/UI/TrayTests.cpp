// The app on real desktop parts: an X server with or without a tint2 tray, a headless sway with
// swaybar's tray, and a StatusNotifierItem watcher and the portal's settings played on a private
// session bus.
#include "App/Processes.h"
#include "Lumenor/Platform/PowerControl.h"
#include "UI/XDesktop.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

QVariant call(const QString& bus, const QString& service, const QString& path,
              const QString& interface, const QString& method, const QVariantList& arguments = {}) {
    QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
    message.setArguments(arguments);
    const auto connection = QDBusConnection::connectToBus(bus, bus); // one per bus
    return connection.call(message, QDBus::Block, 10000).arguments().value(0);
}

QVariant property(const QString& bus, const QString& service, const QString& path,
                  const QString& interface, const QString& name) {
    return call(bus, service, path, "org.freedesktop.DBus.Properties", "Get", {interface, name})
        .value<QDBusVariant>()
        .variant();
}

/// The ink of the first pixmap (ARGB32 in network byte order) of the StatusNotifierItem at
/// `item` ("SERVICE/PATH"): its most opaque pixel.
QColor ink(const QString& bus, const QString& item) {
    const QDBusArgument pixmaps = property(bus, item.section('/', 0, 0), "/" + item.section('/', 1),
                                           "org.kde.StatusNotifierItem", "IconPixmap")
                                      .value<QDBusArgument>();
    int width = 0, height = 0;
    QByteArray data;
    pixmaps.beginArray();
    pixmaps.beginStructure();
    pixmaps >> width >> height >> data;
    const auto* pixel = reinterpret_cast<const uchar*>(data.constData());
    for (qsizetype i = 4; i + 3 < data.size(); i += 4)
        pixel = data[i] > pixel[0] ? reinterpret_cast<const uchar*>(data.constData() + i) : pixel;
    return QColor(pixel[1], pixel[2], pixel[3]);
}

/// The app with `variables` set and `bus` as the buses they do not name.
struct App : Sandbox, Child {
    App(const XDesktop& desktop, const PrivateBus& bus, const QString& platform = {})
        : App({{"QT_QPA_PLATFORM", platform}, {"DISPLAY", desktop.display}}, bus.address()) {}
    App(std::map<QString, QString> variables, const QString& bus)
        : Child(appPath, {}, on(std::move(variables), bus)) {}
    QProcessEnvironment on(std::map<QString, QString> variables, const QString& bus) {
        withLogind = false; // its bus is replaced here
        QProcessEnvironment environment = Sandbox::environment();
        variables.try_emplace("DBUS_SESSION_BUS_ADDRESS", bus);
        variables.try_emplace("DBUS_SYSTEM_BUS_ADDRESS", bus);
        for (const auto& [name, value] : variables)
            environment.insert(name, value);
        return environment;
    }
};

const QString watcher = "org.kde.StatusNotifierWatcher";

/// The first StatusNotifierItem registered on `bus`, or an empty string.
QString firstItem(const QString& bus) {
    return property(bus, watcher, "/StatusNotifierWatcher", watcher,
                    "RegisteredStatusNotifierItems")
        .toStringList()
        .value(0);
}

/// Starts the desktop `script` (scripts/headless-*) around a command that prints `variables`:
/// their values, or none when the script says its desktop is not installed.
std::optional<QStringList> startDesktop(std::optional<Child>& desktop, const char* script,
                                        const QString& variables) {
    desktop.emplace(QStringLiteral(LUMENOR_SOURCE_DIR "/scripts/") + script,
                    QStringList{"--", "sh", "-c", "echo " + variables + "; exec sleep 600"},
                    QProcessEnvironment::systemEnvironment());
    if (!desktop->waitForReadyRead(40000) && desktop->exitCode() == 3)
        return std::nullopt;
    return QString(desktop->readLine()).trimmed().split(' ');
}

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
    (void)QTest::qWaitFor(
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

TEST(Desktop, OnSwayTheItemReachesALateBarReadablyAndThePanelFloats) {
    ensureApplication();
    std::optional<Child> sway;
    const auto place = startDesktop(sway, "headless-sway", R"("$WAYLAND_DISPLAY $SWAYSOCK")");
    if (!place)
        GTEST_SKIP() << sway->err();
    ASSERT_EQ(place->size(), 2) << sway->err();
    const QString bus = "unix:path=" + QFileInfo(place->at(0)).path() + "/bus";
    const auto item = [&] { return firstItem(bus); };
    const App app({{"QT_QPA_PLATFORM", "wayland"},
                   {"WAYLAND_DISPLAY", place->at(0)},
                   {"SWAYSOCK", place->at(1)}},
                  bus);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !item().isEmpty(); }, 15000));
    // The bar goes, and sway's reload starts a new one: the item registers with it.
    const int bar = call(bus, "org.freedesktop.DBus", "/", "org.freedesktop.DBus",
                         "GetConnectionUnixProcessID", {watcher})
                        .toInt();
    ASSERT_GT(bar, 0);
    ::kill(bar, SIGTERM);
    ASSERT_TRUE(QTest::qWaitFor([&] { return item().isEmpty(); }, 10000));
    EXPECT_EQ(run("swaymsg", {"-s", place->at(1), "reload"}, app.processEnvironment()).status, 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !item().isEmpty(); }, 15000));
    // The item is made afresh for the new bar: read it once it answers with its pixmaps.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return MenuTheme::contrast(ink(bus, item()), Qt::black) >= 3.0; }, 5000))
        << "swaybar's black bar";

    EXPECT_EQ(run(toolPath, {"show"}, app.processEnvironment()).status, 0);
    // It floats in the bottom-right corner of the workspace (the output less the bar), by the tray.
    const auto corner = [](const QJsonValue& node) {
        const QJsonObject r = node["rect"].toObject();
        return QPoint(r["x"].toInt() + r["width"].toInt(), r["y"].toInt() + r["height"].toInt());
    };
    QPoint panel, workspace;
    EXPECT_TRUE(QTest::qWaitFor([&] {
        const auto tree =
            run("swaymsg", {"-s", place->at(1), "-t", "get_tree"}, app.processEnvironment());
        const QJsonValue space =
            QJsonDocument::fromJson(QByteArray::fromStdString(tree.out))["nodes"][1]["nodes"][0];
        panel = corner(space["floating_nodes"][0]);
        workspace = corner(space);
        return panel.x() > workspace.x() - 40 && panel.y() <= workspace.y() &&
               panel.y() > workspace.y() - 60;
    })) << panel.x()
        << "," << panel.y() << " in " << workspace.x() << "," << workspace.y();
}

TEST(Desktop, OnGnomeTheIconReadsOnTheTopBarFollowsTheColourSchemeAndARefusingPortalIsUnheld) {
    ensureApplication();
    std::optional<Child> gnome;
    const auto place = startDesktop(
        gnome, "headless-gnome",
        R"("$WAYLAND_DISPLAY $DBUS_SESSION_BUS_ADDRESS $DBUS_SYSTEM_BUS_ADDRESS $XDG_CONFIG_HOME")");
    if (!place)
        GTEST_SKIP() << gnome->err();
    ASSERT_EQ(place->size(), 4) << gnome->err();
    // For the desktop's own tools: gnome-screenshot and gsettings.
    QProcessEnvironment desktop = QProcessEnvironment::systemEnvironment();
    desktop.insert("WAYLAND_DISPLAY", place->at(0));
    desktop.insert("XDG_RUNTIME_DIR", QFileInfo(place->at(0)).path()); // GTK wants it
    desktop.insert("DBUS_SESSION_BUS_ADDRESS", place->at(1));
    desktop.insert("GSETTINGS_BACKEND", "keyfile");
    desktop.insert("XDG_CONFIG_HOME", place->at(3));
    const auto topBar = [&] {
        const QString file = QDir::temp().filePath("lumenor-gnome-test.png");
        EXPECT_EQ(run("gnome-screenshot", {"-f", file}, desktop).status, 0);
        const QImage shot(file);
        QFile::remove(file);
        // The right of the bar, where the status icons are (the clock is in the middle).
        return shot.copy(shot.width() * 2 / 3, 0, shot.width() / 3, 28);
    };
    const QImage before = topBar();
    // No logind on its system bus, and the portal's gtk backend refuses to inhibit suspend
    // without GNOME's session manager: nothing can hold the computer awake.
    const App app({{"QT_QPA_PLATFORM", "wayland"},
                   {"WAYLAND_DISPLAY", place->at(0)},
                   {"DBUS_SYSTEM_BUS_ADDRESS", place->at(2)}},
                  place->at(1));
    QString item;
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return !(item = firstItem(place->at(1))).isEmpty(); }, 15000));
    QTest::qWait(1000); // the extension draws the icon it has just been given
    // What changed there is our icon: it reads on the bar.
    const QImage after = topBar();
    const QColor bar = before.pixelColor(0, before.height() / 2);
    double best = 0;
    for (int y = 0; y < after.height(); ++y)
        for (int x = 0; x < after.width(); ++x)
            if (after.pixel(x, y) != before.pixel(x, y))
                best = std::max(best, MenuTheme::contrast(after.pixelColor(x, y), bar));
    EXPECT_GE(best, 3.0) << "the icon on GNOME's top bar";
    // The person prefers light: the portal says so, and the pixmap's ink turns dark.
    const QStringList light{"set", "org.gnome.desktop.interface", "color-scheme", "prefer-light"};
    EXPECT_EQ(run("gsettings", light, desktop).status, 0);
    item.replace("@/", "/"); // GNOME's watcher names an item "SERVICE@PATH"
    EXPECT_TRUE(QTest::qWaitFor([&] {
        return MenuTheme::contrast(ink(place->at(1), item), QColor(0xf6, 0xf5, 0xf4)) >= 3;
    }));

    const Finished on = run(toolPath, {"on", "--for", "10m"}, app.processEnvironment());
    EXPECT_NE(on.status, 0) << on.out;
    const std::string status = run(toolPath, {"status", "--json"}, app.processEnvironment()).out;
    EXPECT_NE(status.find(R"("awake":false)"), std::string::npos) << status;
    EXPECT_EQ(status.find(R"("portal")"), std::string::npos) << status;
    // The warning icon, one of our installed symbolic icons.
    QString icon;
    EXPECT_TRUE(QTest::qWaitFor([&] {
        icon = property(place->at(1), item.section('/', 0, 0), "/StatusNotifierItem",
                        "org.kde.StatusNotifierItem", "IconName")
                   .toString();
        return icon.contains("unheld");
    }));
    EXPECT_TRUE(
        QFile::exists(LUMENOR_BINARY_DIR "/share/icons/hicolor/scalable/status/" + icon + ".svg"))
        << icon.toStdString();
}
