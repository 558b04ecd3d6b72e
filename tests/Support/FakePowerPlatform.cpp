#include "Support/FakePowerPlatform.h"

#include <algorithm>

namespace {

class FakeAssertion : public PowerControl::Assertion {
public:
    FakeAssertion(FakePowerPlatform& power, const std::string& type, const std::string& reason)
        : Assertion(type, reason), power_(power) {}

    /// The system assertion stands for logind, the display one for the screen saver.
    std::vector<std::string> heldBy() const override {
        if (id() == 0) {
            return {};
        }
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

void FakePowerPlatform::clearRecords() {
    journal.clear();
    helperCalls.clear();
}

std::unique_ptr<PowerControl::Assertion>
FakePowerPlatform::makeAssertion(const std::string& type, const std::string& reason) {
    return std::make_unique<FakeAssertion>(*this, type, reason);
}

PowerControl::RunResult FakePowerPlatform::helper(const std::vector<std::string>& words) {
    std::string line;
    for (const auto& word : words) {
        line += (line.empty() ? "" : " ") + word;
    }
    journal.push_back("helper " + line);
    helperCalls.push_back(line);
    const std::string& subcommand = words.at(0);
    if (duringHelperCall) {
        duringHelperCall(subcommand);
    }
    if (auto& queued = queuedResults[subcommand]; !queued.empty()) {
        const auto result = queued.front();
        queued.pop_front();
        return result;
    }
    return standingResults[subcommand];
}

bool FakePowerPlatform::helperAnswers(const std::string& subcommand) {
    const bool lidWord = subcommand == "lid-on" || subcommand == "renew" || subcommand == "lid-off";
    return (lidInProcess && lidWord) || helperInstalled_;
}

bool FakePowerPlatform::helperWorks() {
    journal.push_back("helperWorks");
    return helperWorks_;
}

bool FakePowerPlatform::lidModeWorks() {
    journal.push_back("lidModeWorks");
    return lidWorks_;
}

void FakePowerPlatform::installHelper() {
    journal.push_back("installHelper");
    if (setupError) {
        throw PowerControl::SetupError::failed(*setupError);
    }
}

void FakePowerPlatform::uninstallHelper() {
    journal.push_back("uninstallHelper");
    if (setupError) {
        throw PowerControl::SetupError::failed(*setupError);
    }
}

PowerControl::RunResult FakePowerPlatform::sleepNow() {
    journal.push_back("sleepNow");
    return sleepNowResult;
}

PowerControl::RunResult FakePowerPlatform::displaySleepNow() {
    journal.push_back("displaySleepNow");
    return displaySleepNowResult;
}
