#include "Lumenor/Platform/PowerPlatform.h"

#include "Lumenor/Platform/LidInhibitor.h"

SystemPowerPlatform::SystemPowerPlatform() : lid_(std::make_unique<LidInhibitor>()) {}

SystemPowerPlatform::~SystemPowerPlatform() = default;

PowerControl::RunResult SystemPowerPlatform::helper(const std::vector<std::string>& words) {
    if (!words.empty() && LidInhibitor::serves(words.front())) {
        return lid_->answer(words.front());
    }
    return PowerControl::runHelper(words);
}

bool SystemPowerPlatform::helperAnswers(const std::string& subcommand) {
    return LidInhibitor::serves(subcommand) || PowerControl::isHelperInstalled();
}

bool SystemPowerPlatform::lidModeWorks() {
    return lid_->available();
}

void SystemPowerPlatform::setLidBatteryFloor(int percent) {
    lid_->setBatteryFloor(percent);
}
