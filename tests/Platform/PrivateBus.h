#pragma once

#include "Platform/PlatformTestSupport.h"

#include <QDBusMessage>
#include <QList>
#include <QString>
#include <QVariant>

#include <string>
#include <sys/types.h>
#include <vector>

/// A dbus-daemon of the tests' own, on a socket in a fresh folder, with python-dbusmock services
/// started on it. Every process it starts ends with it, or with the test program.
class PrivateBus {
public:
    /// Starts the daemon; throws std::runtime_error when it cannot.
    PrivateBus();
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    const std::string& address() const { return address_; }

    /// Runs python-dbusmock with `arguments`, serving as the system and the session bus, and
    /// waits until it owns `name`; throws std::runtime_error when it does not.
    void startMock(const std::vector<std::string>& arguments, const std::string& name);

    /// Calls a method through a connection of the tests' own; fails the test on an error reply.
    QDBusMessage call(const QString& service, const QString& path, const QString& interface,
                      const QString& method, const QList<QVariant>& arguments = {}) const;

    /// The arguments of each logged call of `method` on a mock object.
    std::vector<QVariantList> methodCalls(const QString& service, const QString& path,
                                          const QString& method) const;

private:
    pid_t spawn(const std::vector<std::string>& argv, int outputFd);

    TemporaryFolder folder_;
    std::string address_;
    std::vector<pid_t> children_;
};
