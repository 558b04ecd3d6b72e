// logind's block inhibitors ("sleep:idle" here, the lid switch for LidInhibitor): each lasts
// exactly as long as the descriptor logind hands over stays open.
#include "Lumenor/Platform/DBusCall.h"
#include "Lumenor/Platform/InhibitorSet.h"
#include "Lumenor/Platform/LogindInhibitors.h"

#include <QDBusUnixFileDescriptor>

#include <algorithm>
#include <utility>

#include <fcntl.h>
#include <unistd.h>

namespace {

/// Like every assertion, one still held when its owner goes stays held until the process ends:
/// the descriptor is then left open.
class LogindInhibit final : public Inhibitor {
public:
    std::string name() const override { return "logind"; }

    std::optional<std::string> take(const std::string& reason) override {
        std::string failure;
        fd_ = Inhibitors::logindDescriptor(what, reason, failure);
        why_ = reason;
        return fd_ < 0 ? std::optional(failure) : std::nullopt;
    }

    void give() override {
        if (fd_ >= 0) {
            Inhibitors::closeLogindDescriptor(std::exchange(fd_, -1), what, why_);
        }
    }

    // The new inhibitor first, so that the computer is never unheld in between.
    void rename(const std::string& reason) override {
        std::string failure;
        const int fd = Inhibitors::logindDescriptor(what, reason, failure);
        if (fd >= 0) {
            give();
            fd_ = fd;
            why_ = reason;
        }
    }

private:
    const QString what = QStringLiteral("sleep:idle");
    int fd_ = -1;
    std::string why_;
};

} // namespace

int Inhibitors::logindDescriptor(const QString& what, const std::string& why,
                                 std::string& failure) {
    const QDBusMessage reply = DBusCall::call(
        DBusCall::systemBus(), DBusCall::logindService, DBusCall::logindPath,
        DBusCall::logindManager, QStringLiteral("Inhibit"),
        {what, QStringLiteral("Lumenor"), QString::fromStdString(why), QStringLiteral("block")});
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        failure = describeLogind(reply);
        return -1;
    }
    const auto descriptor = reply.arguments().constFirst().value<QDBusUnixFileDescriptor>();
    // Our own duplicate, so that no Qt copy of the reply can keep the inhibitor alive.
    const int fd =
        descriptor.isValid() ? fcntl(descriptor.fileDescriptor(), F_DUPFD_CLOEXEC, 3) : -1;
    if (fd < 0) {
        failure = "logind sent no inhibitor descriptor";
    }
    return fd;
}

void Inhibitors::closeLogindDescriptor(int fd, const QString& what, const std::string& why) {
    ::close(fd);
    // logind notices a closed descriptor only after the calls already waiting for it, so a reply
    // sent now could say the inhibitor is gone while logind still lists it: wait until it is.
    const auto listed = [&, pid = uint32_t(::getpid()), kind = what.toStdString()] {
        const auto inhibitors =
            PowerControl::listInhibitors().value_or(std::vector<PowerControl::Inhibitor>{});
        return std::any_of(inhibitors.begin(), inhibitors.end(), [&](const auto& inhibitor) {
            return inhibitor.pid == pid && inhibitor.what == kind && inhibitor.why == why;
        });
    };
    for (int tries = 0; tries < 50 && listed(); ++tries) {
        ::usleep(10000);
    }
}

std::unique_ptr<Inhibitor> Inhibitors::logind() {
    return std::make_unique<LogindInhibit>();
}
