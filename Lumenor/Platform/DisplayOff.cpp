// Turning the display off: `xset dpms force off` on X11, checked afterwards, since a server
// without DPMS takes the command and does nothing; on Wayland GNOME's power-save mode, which
// input ends. Elsewhere (sway's outputs stay off until a command turns them on) saying so beats
// pretending.
#include "Lumenor/Platform/DBusCall.h"
#include "Lumenor/Platform/PowerControl.h"

#include <QDBusConnectionInterface>
#include <QDBusVariant>
#include <QStandardPaths>

#include <cstdlib>

namespace PowerControl {

namespace {

constexpr double displayTimeout = 20;
const QString mutter = QStringLiteral("org.gnome.Mutter.DisplayConfig");
/// Mutter's power-save modes: 0 on, 3 off.
constexpr int mutterPowerOff = 3;

bool environmentSet(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

bool mutterRuns() {
    const QDBusConnection bus = QDBusConnection::sessionBus();
    return bus.isConnected() && bus.interface()->isServiceRegistered(mutter).value();
}

/// How the display goes off here: a program to run, GNOME's bus call, or none (`problem`).
struct Way {
    bool gnome = false;
    std::string tool;
    std::vector<std::string> arguments;
};

std::optional<Way> displayOffWay(std::string& problem) {
    if (environmentSet("WAYLAND_DISPLAY")) {
        if (mutterRuns()) {
            return Way{true, {}, {}};
        }
        problem = "this Wayland desktop offers no way for apps to turn the display off that input "
                  "turns on again (GNOME's is known)";
        return std::nullopt;
    }
    if (!environmentSet("DISPLAY")) {
        problem = "there is no X display (DISPLAY is not set)";
        return std::nullopt;
    }
    const QString xset = QStandardPaths::findExecutable(QStringLiteral("xset"));
    if (xset.isEmpty()) {
        problem = "xset is not installed (Debian package x11-xserver-utils)";
        return std::nullopt;
    }
    return Way{false, xset.toStdString(), {"dpms", "force", "off"}};
}

RunResult gnomePowerOff() {
    const QDBusMessage reply = DBusCall::callRunning(
        QDBusConnection::sessionBus(), mutter, QStringLiteral("/org/gnome/Mutter/DisplayConfig"),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Set"),
        {mutter, QStringLiteral("PowerSaveMode"),
         QVariant::fromValue(QDBusVariant(mutterPowerOff))});
    if (reply.type() == QDBusMessage::ReplyMessage) {
        return {0, ""};
    }
    return {1, "GNOME refused: " + DBusCall::errorText(reply).toStdString()};
}

} // namespace

std::optional<std::string> displaySleepProblem() {
    std::string problem;
    if (displayOffWay(problem)) {
        return std::nullopt;
    }
    return problem;
}

RunResult displaySleepNow() {
    std::string problem;
    const auto way = displayOffWay(problem);
    if (!way) {
        return {1, problem};
    }
    if (way->gnome) {
        return gnomePowerOff();
    }
    RunResult result = run(way->tool, way->arguments, displayTimeout);
    if (result.code != 0 && result.output.empty()) {
        result.output = way->tool + " failed with status " + std::to_string(result.code);
    }
    if (result.code == 0 &&
        run(way->tool, {"q"}, displayTimeout).output.find("Monitor is Off") == std::string::npos) {
        return {1, "the X server did not turn the display off (it has no working DPMS)"};
    }
    return result;
}

} // namespace PowerControl
