// Assertions, display wake and system sleep over D-Bus: logind on the system bus, the portal,
// the power manager and the screen saver on the session bus. Every call has a short time-out; a
// missing bus or service makes the operation fail the way PowerControl defines, never the app.
#include "Lumenor/Platform/DBusCall.h"
#include "Lumenor/Platform/InhibitorSet.h"
#include "Lumenor/Platform/PowerControl.h"
#include "LumenorCore/LumenorWords.h"

namespace PowerControl {

std::unique_ptr<Assertion> makeAssertion(const std::string& type, const std::string& reason) {
    std::vector<std::unique_ptr<Inhibitor>> parts;
    if (type == displayAssertionType) {
        parts.push_back(Inhibitors::screenSaver());
        parts.push_back(Inhibitors::portal(Inhibitors::idle));
        parts.push_back(Inhibitors::x11ScreenSaver());
    } else {
        // logind first: when nothing can be held, its failure is the one to report.
        parts.push_back(Inhibitors::logind());
        parts.push_back(Inhibitors::portal(Inhibitors::suspend | Inhibitors::idle));
        parts.push_back(Inhibitors::powerManagement());
    }
    return std::make_unique<InhibitorSet>(type, reason, std::move(parts));
}

void wakeDisplay() {
    const QDBusConnection bus = QDBusConnection::sessionBus();
    for (const QString& path : DBusCall::screenSaverPaths) {
        DBusCall::send(bus, DBusCall::screenSaverService, path, DBusCall::screenSaverInterface,
                       QStringLiteral("SimulateUserActivity"));
    }
}

RunResult sleepNow() {
    const QDBusMessage reply =
        DBusCall::call(DBusCall::systemBus(), DBusCall::logindService, DBusCall::logindPath,
                       DBusCall::logindManager, QStringLiteral("Suspend"), {false});
    if (reply.type() == QDBusMessage::ReplyMessage) {
        return {0, ""};
    }
    return {1, Inhibitors::describeLogind(reply)};
}

std::optional<std::string> sleepProblem() {
    const QDBusMessage reply =
        DBusCall::call(DBusCall::systemBus(), DBusCall::logindService, DBusCall::logindPath,
                       DBusCall::logindManager, QStringLiteral("CanSuspend"));
    if (reply.type() != QDBusMessage::ReplyMessage) {
        return Inhibitors::describeLogind(reply);
    }
    // "challenge" means a polkit prompt will ask: that is still a way.
    const QString answer = reply.arguments().value(0).toString();
    if (answer == QStringLiteral("no") || answer == QStringLiteral("na")) {
        return "logind says this " + LumenorWords::machine() + " can't suspend (" +
               answer.toStdString() + ")";
    }
    return std::nullopt;
}

} // namespace PowerControl
