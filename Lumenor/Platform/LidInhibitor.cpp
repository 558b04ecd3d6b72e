#include "Lumenor/Platform/LidInhibitor.h"

#include "Lumenor/Platform/DBusCall.h"

#include <QDBusUnixFileDescriptor>

#include <algorithm>
#include <fcntl.h>
#include <unistd.h>

namespace {

const QString lidWhat = QStringLiteral("sleep:idle:handle-lid-switch");

/// A fresh inhibitor's descriptor (our own duplicate, so no Qt copy can keep it alive), or -1
/// with logind's error text in `error`.
int takeInhibitor(std::string& error) {
    const QDBusMessage reply =
        DBusCall::call(QDBusConnection::systemBus(), DBusCall::logindService, DBusCall::logindPath,
                       DBusCall::logindManager, QStringLiteral("Inhibit"),
                       {lidWhat, QStringLiteral("Lumenor"), QStringLiteral("Lid-closed mode"),
                        QStringLiteral("block")});
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        error = DBusCall::errorText(reply).toStdString();
        return -1;
    }
    const auto descriptor = reply.arguments().constFirst().value<QDBusUnixFileDescriptor>();
    const int fd =
        descriptor.isValid() ? fcntl(descriptor.fileDescriptor(), F_DUPFD_CLOEXEC, 3) : -1;
    if (fd < 0) {
        error = "logind gave no inhibitor descriptor";
    }
    return fd;
}

} // namespace

LidInhibitor::LidInhibitor() : LidInhibitor(Timing{}, [] { return PowerControl::battery(); }) {}

LidInhibitor::LidInhibitor(Timing timing, BatteryReader battery)
    : timing_(timing), battery_(std::move(battery)), watchdog_([this] { watch(); }) {}

LidInhibitor::~LidInhibitor() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        release();
    }
    changed_.notify_all();
    watchdog_.join();
}

bool LidInhibitor::serves(const std::string& word) {
    return word == "lid-on" || word == "renew" || word == "lid-off";
}

PowerControl::RunResult LidInhibitor::answer(const std::string& word) {
    if (word == "lid-on") {
        return lidOn();
    }
    std::lock_guard lock(mutex_);
    if (word == "renew") {
        if (fd_ < 0) {
            return {1, ""};
        }
        leaseEnds_ = Clock::now() + timing_.lease;
        changed_.notify_all();
        return {0, ""};
    }
    release();
    return {0, ""};
}

PowerControl::RunResult LidInhibitor::lidOn() {
    std::unique_lock lock(mutex_);
    if (batteryLow()) {
        return {3, "battery below " + std::to_string(floor_) + "%"};
    }
    if (fd_ < 0) {
        std::string error;
        fd_ = takeInhibitor(error);
        if (fd_ < 0) {
            return {1, error};
        }
    }
    leaseEnds_ = Clock::now() + timing_.lease;
    changed_.notify_all();
    return {0, ""};
}

void LidInhibitor::setBatteryFloor(int percent) {
    std::lock_guard lock(mutex_);
    floor_ = std::clamp(percent, 1, 50);
}

bool LidInhibitor::available() {
    if (held()) {
        return true;
    }
    std::string error;
    const int trial = takeInhibitor(error);
    if (trial < 0) {
        return false;
    }
    ::close(trial);
    return true;
}

bool LidInhibitor::held() const {
    std::lock_guard lock(mutex_);
    return fd_ >= 0;
}

// An unknown charge never counts as low, as for the engine's own floor.
bool LidInhibitor::batteryLow() const {
    const auto battery = battery_();
    return battery.onBattery && battery.percent && *battery.percent < floor_;
}

void LidInhibitor::release() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

void LidInhibitor::watch() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        if (fd_ < 0) {
            changed_.wait(lock);
            continue;
        }
        const auto next = std::min(leaseEnds_, Clock::now() + timing_.batteryCheck);
        changed_.wait_until(lock, next);
        if (fd_ >= 0 && (Clock::now() >= leaseEnds_ || batteryLow())) {
            release();
        }
    }
}

namespace PowerControl {

std::optional<std::string> lidHandledBy(const std::vector<Inhibitor>& inhibitors, uint32_t ownPid) {
    for (const auto& inhibitor : inhibitors) {
        // Our own inhibitor may carry a pid other than getpid() (a pid namespace, as in a
        // sandbox), so it is also known by the names it was taken with.
        const bool ours = inhibitor.pid == ownPid ||
                          (inhibitor.who == "Lumenor" && inhibitor.why == "Lid-closed mode");
        if (!ours && inhibitor.mode == "block" && inhibitor.blocks("handle-lid-switch")) {
            return inhibitor.who;
        }
    }
    return std::nullopt;
}

} // namespace PowerControl
