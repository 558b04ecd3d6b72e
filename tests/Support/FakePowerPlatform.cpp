#include "Support/FakePowerPlatform.h"

namespace {

/// The system assertion stands for logind, the display one for the screen saver.
struct FakeAssertion : PowerControl::Assertion {
    FakeAssertion(FakePowerPlatform& power, const std::string& type, const std::string& reason)
        : Assertion(type, reason), power(power) {}
    std::vector<std::string> heldBy() const override {
        if (id() == 0)
            return {};
        return {type() == PowerControl::displayAssertionType ? "screensaver" : "logind"};
    }
    std::string failure() const override { return refused; }
    uint32_t acquire() override {
        refused = power.refusedAssertions.contains(type()) ? power.refusal : "";
        if (!refused.empty())
            return 0;
        power.held.insert(type());
        power.journal.push_back("assert " + type() + " on");
        return 1;
    }
    void release(uint32_t) override {
        power.held.erase(type());
        power.journal.push_back("assert " + type() + " off");
    }

    FakePowerPlatform& power;
    std::string refused;
};

} // namespace

std::vector<std::string> FakePowerPlatform::operations() const {
    std::vector<std::string> found;
    for (const auto& entry : journal)
        if (entry.find("Lid") != std::string::npos || entry.find("WakeAlarm") != std::string::npos)
            found.push_back(entry);
    return found;
}

std::unique_ptr<PowerControl::Assertion>
FakePowerPlatform::makeAssertion(const std::string& type, const std::string& reason) {
    return std::make_unique<FakeAssertion>(*this, type, reason);
}

PowerResult FakePowerPlatform::operation(const std::string& name, const std::string& argument) {
    journal.push_back(argument.empty() ? name : name + " " + argument);
    if (duringOperation)
        duringOperation(name);
    if (auto& queued = queuedResults[name]; !queued.empty()) {
        const auto result = queued.front();
        queued.pop_front();
        return result;
    }
    return standingResults[name];
}

PowerResult FakePowerPlatform::setWakeAlarm(Instant at) {
    const auto epoch = std::chrono::duration_cast<std::chrono::seconds>(at.time_since_epoch());
    return operation("setWakeAlarm", std::to_string(epoch.count()));
}

void FakePowerPlatform::administer(const std::string& name) {
    journal.push_back(name);
    if (setupError)
        throw PowerControl::SetupError::failed(*setupError);
}
