#include "Support/FakePowerPlatform.h"

#include "LumenorCore/PrivilegedInstall.h"

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

PowerControl::RunResult FakePowerPlatform::run(const std::string& tool,
                                               const std::vector<std::string>& arguments,
                                               double timeout) {
    std::string words;
    for (const auto& argument : arguments) {
        words += " " + argument;
    }
    journal.push_back("run " + tool + words);
    lastRunTimeout = timeout;
    const std::string prefix = " -n " + PrivilegedInstall::helperPath + " ";
    if (tool != "/usr/bin/sudo" || !words.starts_with(prefix)) {
        return {};
    }
    helperCalls.push_back(words.substr(prefix.size()));
    const std::string& subcommand = arguments[2];
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

bool FakePowerPlatform::helperWorks() {
    journal.push_back("helperWorks");
    return helperWorks_;
}

void FakePowerPlatform::runAsAdmin(const std::string&, const std::string&) {
    if (setupError) {
        throw PowerControl::SetupError::failed(*setupError);
    }
}

void FakePowerPlatform::installHelper(int minimumBattery) {
    installedFloors.push_back(minimumBattery);
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
