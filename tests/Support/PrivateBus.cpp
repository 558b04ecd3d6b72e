#include "Support/PrivateBus.h"
#include "Support/Files.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QTest>

#include <csignal>
#include <sys/prctl.h>

PrivateBus::PrivateBus() {
    // No service directories: a name the test did not start stays missing, instead of the bus
    // starting what this machine has installed (the real portal, say).
    const std::string config =
        writeFile(folder_.filePath("bus.conf").toStdString(),
                  "<busconfig><type>session</type><auth>EXTERNAL</auth><listen>unix:path=" +
                      folder_.filePath("bus").toStdString() +
                      "</listen><policy context=\"default\"><allow send_destination=\"*\" "
                      "eavesdrop=\"true\"/><allow eavesdrop=\"true\"/><allow own=\"*\"/>"
                      "</policy></busconfig>");
    QProcess& daemon =
        start("/usr/bin/dbus-daemon",
              {"--config-file=" + QString::fromStdString(config), "--nofork", "--print-address=1"},
              QProcess::SeparateChannels);
    while (!daemon.canReadLine() && daemon.waitForReadyRead(10000)) {
    }
    address_ = daemon.readLine().trimmed();
}

QProcess& PrivateBus::start(const QString& program, const QStringList& arguments,
                            QProcess::ProcessChannelMode mode) {
    auto& process = *processes_.emplace_back(std::make_unique<QProcess>());
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    process.setProcessChannelMode(mode);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("DBUS_SYSTEM_BUS_ADDRESS", address_);
    environment.insert("DBUS_SESSION_BUS_ADDRESS", address_);
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    return process;
}

bool PrivateBus::startMock(const QStringList& arguments, const QString& name) {
    start("/usr/bin/python3", QStringList{"-m", "dbusmock"} + arguments,
          QProcess::ForwardedChannels);
    // A connection of our own: the test program's default buses may point elsewhere.
    const QDBusConnection bus = QDBusConnection::connectToBus(QString::fromLatin1(address_),
                                                              QStringLiteral("private-bus-probe"));
    return QTest::qWaitFor([&] { return bus.interface()->isServiceRegistered(name).value(); },
                           20000);
}

void PrivateBus::addMethods(const QString& service, const QString& path,
                            const std::vector<QVariantList>& methods) {
    const QDBusConnection bus = QDBusConnection::connectToBus(QString::fromLatin1(address_),
                                                              QStringLiteral("private-bus-probe"));
    for (const QVariantList& method : methods) {
        QDBusMessage message = QDBusMessage::createMethodCall(
            service, path, QStringLiteral("org.freedesktop.DBus.Mock"),
            QStringLiteral("AddMethod"));
        message.setArguments(method);
        bus.call(message, QDBus::Block, 10000);
    }
}
