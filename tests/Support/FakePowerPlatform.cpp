#include "Support/FakePowerPlatform.h"

#include <algorithm>

namespace {

class FakeAssertion : public PowerControl::Assertion {
public:
    FakeAssertion(FakePowerPlatform& power, const std::string& type, const std::string& reason)
        : Assertion(type, reason), power_(power) {}
    /// The system assertion stands for logind, the display one for the screen saver.
    std::vector<std::string> heldBy() const override {
        if (id() == 0)
            return {};
        return {type() == PowerControl::displayAssertionType ? "screensaver" : "logind"};
    }
    std::string failure() const override { return failure_; }

protected:
    uint32_t acquire() override {
        failure_.clear();
        if (power_.refusedAssertions.contains(type())) {
            failure_ = power_.refusal;
            return 0;
        }
        power_.held.insert(type());
        power_.journal.push_back("assert " + type() + " on");
        return 1;
    }
    void release(uint32_t) override {
        power_.held.erase(type());
        power_.journal.push_back("assert " + type() + " off");
    }

private:
    FakePowerPlatform& power_;
    std::string failure_;
};

} // namespace

long FakePowerPlatform::count(const std::string& action) const {
    return std::ranges::count(journal, action);
}

std::vector<std::string> FakePowerPlatform::operations() const {
    std::vector<std::string> found;
    std::ranges::copy_if(journal, std::back_inserter(found), [](const std::string& entry) {
        return entry.find("Lid") != std::string::npos ||
               entry.find("WakeAlarm") != std::string::npos;
    });
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
