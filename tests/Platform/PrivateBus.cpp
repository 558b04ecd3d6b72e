#include "Platform/PrivateBus.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

const QString probeName = QStringLiteral("lumenor-private-bus-probe");

std::string readLine(int fd) {
    std::string line;
    char c = 0;
    while (::read(fd, &c, 1) == 1 && c != '\n') {
        line += c;
    }
    return line;
}

} // namespace

PrivateBus::PrivateBus() {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    const std::string socket = "unix:path=" + (folder_.path() / "bus").string();
    spawn({"/usr/bin/dbus-daemon", "--session", "--nofork", "--nopidfile", "--address=" + socket,
           "--print-address=1"},
          ends[1]);
    ::close(ends[1]);
    address_ = readLine(ends[0]);
    ::close(ends[0]);
    if (address_.empty()) {
        throw std::runtime_error("dbus-daemon did not start");
    }
}

PrivateBus::~PrivateBus() {
    QDBusConnection::disconnectFromBus(probeName);
    for (auto it = children_.rbegin(); it != children_.rend(); ++it) {
        ::kill(*it, SIGTERM);
        int status = 0;
        ::waitpid(*it, &status, 0);
    }
}

pid_t PrivateBus::spawn(const std::vector<std::string>& argv, int outputFd) {
    // Everything the child needs is prepared before fork: after it, only exec-safe calls.
    std::vector<std::string> environment = {"DBUS_SYSTEM_BUS_ADDRESS=" + address_,
                                            "DBUS_SESSION_BUS_ADDRESS=" + address_};
    for (char** entry = environ; *entry; ++entry) {
        if (std::string(*entry).rfind("DBUS_", 0) != 0) {
            environment.emplace_back(*entry);
        }
    }
    std::vector<char*> envp;
    for (std::string& entry : environment) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);
    std::vector<char*> args;
    for (const std::string& argument : argv) {
        args.push_back(const_cast<char*>(argument.c_str()));
    }
    args.push_back(nullptr);
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL); // a crashed test program leaves nothing running
        if (::getppid() != parent) {
            ::_exit(127);
        }
        if (outputFd >= 0) {
            ::dup2(outputFd, STDOUT_FILENO);
        }
        ::execve(args[0], args.data(), envp.data());
        ::_exit(127);
    }
    if (pid < 0) {
        throw std::runtime_error("fork failed");
    }
    children_.push_back(pid);
    return pid;
}

void PrivateBus::startMock(const std::vector<std::string>& arguments, const std::string& name) {
    std::vector<std::string> argv = {"/usr/bin/python3", "-m", "dbusmock"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    spawn(argv, -1);
    QDBusConnection probe =
        QDBusConnection::connectToBus(QString::fromStdString(address_), probeName);
    const bool owned = waitUntil(
        [&] {
            return probe.interface()->isServiceRegistered(QString::fromStdString(name)).value();
        },
        std::chrono::seconds(20));
    if (!owned) {
        throw std::runtime_error("the mock did not take " + name);
    }
}

QDBusMessage PrivateBus::call(const QString& service, const QString& path, const QString& interface,
                              const QString& method, const QList<QVariant>& arguments) const {
    QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
    message.setArguments(arguments);
    const QDBusMessage reply = QDBusConnection(probeName).call(message, QDBus::Block, 10000);
    EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage)
        << method.toStdString() << ": " << reply.errorMessage().toStdString();
    return reply;
}

std::vector<QVariantList> PrivateBus::methodCalls(const QString& service, const QString& path,
                                                  const QString& method) const {
    const QDBusMessage reply = call(service, path, QStringLiteral("org.freedesktop.DBus.Mock"),
                                    QStringLiteral("GetMethodCalls"), {method});
    std::vector<QVariantList> calls;
    if (reply.arguments().isEmpty()) {
        return calls;
    }
    const auto list = reply.arguments().constFirst().value<QDBusArgument>();
    list.beginArray();
    while (!list.atEnd()) {
        qulonglong timestamp = 0;
        QVariantList arguments;
        list.beginStructure();
        list >> timestamp >> arguments;
        list.endStructure();
        calls.push_back(arguments);
    }
    list.endArray();
    return calls;
}
