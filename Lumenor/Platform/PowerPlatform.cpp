#include "Lumenor/Platform/PowerPlatform.h"

#include "Lumenor/Platform/LidInhibitor.h"
#include "Lumenor/Platform/LidSwitch.h"

#include <chrono>

namespace {

// The helper's status for a request it will not carry out, such as a wake outside the next day.
constexpr int32_t helperRefusal = 2;

PowerResult wakeHelper(const std::vector<std::string>& words) {
    if (!PowerControl::isHelperInstalled()) {
        return PowerResult::failed("the wake helper is not installed");
    }
    const PowerControl::RunResult result = PowerControl::runHelper(words);
    if (result.code == 0) {
        return {};
    }
    if (result.code == helperRefusal) {
        return PowerResult::refused(result.output);
    }
    return PowerResult::failed(result.output.empty() ? "the wake helper failed (status " +
                                                           std::to_string(result.code) + ")"
                                                     : result.output);
}

} // namespace

SystemPowerPlatform::SystemPowerPlatform() : lid_(std::make_unique<LidInhibitor>()) {}

SystemPowerPlatform::~SystemPowerPlatform() = default;

bool SystemPowerPlatform::hasLid() {
    return LidSwitch::present();
}

bool SystemPowerPlatform::lidAvailable() {
    return lid_->available();
}

PowerResult SystemPowerPlatform::takeLid() {
    return lid_->take();
}

PowerResult SystemPowerPlatform::renewLid() {
    return lid_->renew();
}

void SystemPowerPlatform::releaseLid() {
    lid_->release();
}

void SystemPowerPlatform::setLidBatteryFloor(int percent) {
    lid_->setBatteryFloor(percent);
}

PowerResult SystemPowerPlatform::setWakeAlarm(Instant at) {
    // Rounded up: the computer never wakes before the instant asked for.
    const auto epoch = std::chrono::ceil<std::chrono::seconds>(at.time_since_epoch()).count();
    return wakeHelper({"schedule-wake", std::to_string(epoch)});
}

PowerResult SystemPowerPlatform::cancelWakeAlarm() {
    return wakeHelper({"cancel-wake"});
}
