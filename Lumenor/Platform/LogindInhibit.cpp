// logind's "sleep:idle" block inhibitor: it lasts exactly as long as the descriptor logind hands
// over stays open.
#include "Lumenor/Platform/DBusCall.h"
#include "Lumenor/Platform/InhibitorSet.h"

#include <QDBusUnixFileDescriptor>

#include <fcntl.h>
#include <unistd.h>

namespace {

/// Like every assertion, one still held when its owner goes stays held until the process ends:
/// the descriptor is then left open.
class LogindInhibit final : public Inhibitor {
public:
    std::string name() const override { return "logind"; }

    std::optional<std::string> take(const std::string& reason) override {
        const QDBusMessage reply =
            DBusCall::call(QDBusConnection::systemBus(), DBusCall::logindService,
                           DBusCall::logindPath, DBusCall::logindManager, QStringLiteral("Inhibit"),
                           {QStringLiteral("sleep:idle"), QStringLiteral("Lumenor"),
                            QString::fromStdString(reason), QStringLiteral("block")});
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
            return Inhibitors::describe(QStringLiteral("logind"),
                                        "no login manager (logind) on the system bus", reply);
        }
        const auto descriptor = reply.arguments().constFirst().value<QDBusUnixFileDescriptor>();
        // Our own duplicate, so that no Qt copy of the reply can keep the inhibitor alive.
        fd_ = descriptor.isValid() ? fcntl(descriptor.fileDescriptor(), F_DUPFD_CLOEXEC, 3) : -1;
        if (fd_ < 0) {
            return std::string("logind sent no inhibitor descriptor");
        }
        return std::nullopt;
    }

    void give() override {
        if (fd_ >= 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }

private:
    int fd_ = -1;
};

} // namespace

std::unique_ptr<Inhibitor> Inhibitors::logind() {
    return std::make_unique<LogindInhibit>();
}
