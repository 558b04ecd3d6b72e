#include "Lumenor/Platform/LidInhibitor.h"

#include "Lumenor/Platform/InhibitorSet.h"

#include <QString>

#include <algorithm>
#include <unistd.h>

namespace {

const QString lidWhat = QStringLiteral("sleep:idle:handle-lid-switch");
const std::string lidWhy = "Lid-closed mode";

} // namespace

LidInhibitor::LidInhibitor() : LidInhibitor(Timing{}, [] { return PowerControl::battery(); }) {}

LidInhibitor::LidInhibitor(Timing timing, BatteryReader battery)
    : timing_(timing), battery_(std::move(battery)), watchdog_([this] { watch(); }) {}

LidInhibitor::~LidInhibitor() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        drop(notHeld);
    }
    changed_.notify_all();
    watchdog_.join();
}

bool LidInhibitor::available() {
    if (held()) {
        return true;
    }
    std::string failure;
    const int trial = Inhibitors::logindDescriptor(lidWhat, lidWhy, failure);
    if (trial < 0) {
        return false;
    }
    ::close(trial);
    return true;
}

PowerResult LidInhibitor::take() {
    std::lock_guard lock(mutex_);
    if (batteryLow()) {
        drop(belowFloor());
        return PowerResult::refused(belowFloor());
    }
    if (fd_ < 0) {
        std::string failure;
        fd_ = Inhibitors::logindDescriptor(lidWhat, lidWhy, failure);
        if (fd_ < 0) {
            return PowerResult::failed(failure);
        }
        changed_.notify_all(); // the watchdog starts watching this lease
    }
    extendLease();
    return {};
}

PowerResult LidInhibitor::renew() {
    std::lock_guard lock(mutex_);
    if (fd_ >= 0 && batteryLow()) {
        drop(belowFloor());
    }
    if (fd_ < 0) {
        return PowerResult::failed(lost_);
    }
    extendLease();
    return {};
}

void LidInhibitor::release() {
    std::lock_guard lock(mutex_);
    drop(notHeld);
}

void LidInhibitor::setBatteryFloor(int percent) {
    std::lock_guard lock(mutex_);
    floor_ = std::clamp(percent, 1, 50);
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

std::string LidInhibitor::belowFloor() const {
    return "battery below " + std::to_string(floor_) + "%";
}

void LidInhibitor::drop(std::string why) {
    if (fd_ >= 0) {
        Inhibitors::closeLogindDescriptor(std::exchange(fd_, -1), lidWhat, lidWhy);
    }
    lost_ = std::move(why);
}

void LidInhibitor::extendLease() {
    // No notification: the watchdog finds the later end when it wakes at the earlier one.
    leaseEnds_ = Clock::now() + timing_.lease;
}

void LidInhibitor::watch() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        if (fd_ < 0) {
            changed_.wait(lock);
            continue;
        }
        changed_.wait_until(lock, leaseEnds_);
        if (fd_ >= 0 && Clock::now() >= leaseEnds_) {
            drop("it was not renewed in time");
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
