#pragma once

#include <QByteArray>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariantList>

#include <memory>
#include <vector>

/// A private dbus-daemon that serves as both the system and the session bus, on which
/// python-dbusmock plays the services. Every process it starts ends with it, or with the test
/// program. Needs a QCoreApplication.
class PrivateBus {
public:
    /// Starts the daemon; `address()` is empty when it did not start.
    PrivateBus();

    QByteArray address() const { return address_; }
    /// Runs `python3 -m dbusmock ARGUMENTS` and waits until it owns `name`; false if it did not.
    bool startMock(const QStringList& arguments, const QString& name);
    /// Adds methods to the mock object `service` serves at `path`, each as dbusmock's AddMethod
    /// takes them: interface ("" for the object's own), name, in and out signatures, code.
    void addMethods(const QString& service, const QString& path,
                    const std::vector<QVariantList>& methods);

private:
    QProcess& start(const QString& program, const QStringList& arguments,
                    QProcess::ProcessChannelMode mode);

    QTemporaryDir folder_;
    QByteArray address_;
    std::vector<std::unique_ptr<QProcess>> processes_;
};
