#include "Lumenor/Platform/PowerPlatform.h"

#include "Lumenor/Platform/LidInhibitor.h"

#include <chrono>

namespace {

// Stand-in until the lid speaks typed results itself.
PowerResult fromRun(const PowerControl::RunResult& run) {
    if (run.code == 0) {
        return {};
    }
    return run.code == 3 ? PowerResult::refused(run.output) : PowerResult::failed(run.output);
}

} // namespace

SystemPowerPlatform::SystemPowerPlatform() : lid_(std::make_unique<LidInhibitor>()) {}

SystemPowerPlatform::~SystemPowerPlatform() = default;

bool SystemPowerPlatform::lidAvailable() {
    return lid_->available();
}

PowerResult SystemPowerPlatform::takeLid() {
    return fromRun(lid_->answer("lid-on"));
}

PowerResult SystemPowerPlatform::renewLid() {
    return fromRun(lid_->answer("renew"));
}

void SystemPowerPlatform::releaseLid() {
    lid_->answer("lid-off");
}

void SystemPowerPlatform::setLidBatteryFloor(int percent) {
    lid_->setBatteryFloor(percent);
}

PowerResult SystemPowerPlatform::setWakeAlarm(Instant at) {
    const auto epoch = std::chrono::duration_cast<std::chrono::seconds>(at.time_since_epoch());
    return fromRun(PowerControl::runHelper({"schedule-wake", std::to_string(epoch.count())}));
}

PowerResult SystemPowerPlatform::cancelWakeAlarm() {
    return fromRun(PowerControl::runHelper({"cancel-wake"}));
}
