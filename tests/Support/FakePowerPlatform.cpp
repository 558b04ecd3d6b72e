#include "Support/FakePowerPlatform.h"

#include "LumenorCore/PrivilegedInstall.h"

#include <deque>

struct FakePowerPlatform::State {
    mutable std::mutex mutex;
    PowerControl::Battery battery;
    bool lidClosed = false;
    bool helperInstalled = false;
    bool helperWorks = false;
    std::map<std::string, PowerControl::RunResult> helperResults;
    std::map<std::string, std::deque<PowerControl::RunResult>> queuedResults;
    RunScript runScript;
    std::map<std::string, bool> refused;
    PowerControl::RunResult sleepNowResult;
    PowerControl::RunResult displaySleepNowResult;
    std::optional<std::string> installError;
    std::optional<std::string> adminError;

    std::vector<std::string> journal;
    std::vector<RunCall> runs;
    std::map<std::string, bool> held;
    std::map<std::string, int> acquisitions;
    std::map<std::string, int> releases;
    int batteryReads = 0;
    int sleepNowCalls = 0;
    int displaySleepNowCalls = 0;
    int wakeDisplayCalls = 0;
    std::vector<int> installs;
    std::vector<std::string> adminScripts;
    uint32_t nextAssertionId = 1;
};

namespace {

class FakeAssertion : public PowerControl::Assertion {
public:
    FakeAssertion(std::shared_ptr<FakePowerPlatform::State> state, const std::string& type,
                  const std::string& reason)
        : Assertion(type, reason), state_(std::move(state)) {}

protected:
    uint32_t acquire() override {
        std::lock_guard lock(state_->mutex);
        if (state_->refused[type()]) {
            return 0;
        }
        state_->held[type()] = true;
        ++state_->acquisitions[type()];
        state_->journal.push_back("assert " + type() + " on");
        return state_->nextAssertionId++;
    }
    void release(uint32_t) override {
        std::lock_guard lock(state_->mutex);
        state_->held[type()] = false;
        ++state_->releases[type()];
        state_->journal.push_back("assert " + type() + " off");
    }

private:
    std::shared_ptr<FakePowerPlatform::State> state_;
};

bool isHelperCall(const FakePowerPlatform::RunCall& call) {
    return call.tool == "/usr/bin/sudo" && call.arguments.size() >= 3 &&
           call.arguments[0] == "-n" && call.arguments[1] == PrivilegedInstall::helperPath;
}

std::string joined(const std::vector<std::string>& words, size_t from) {
    std::string text;
    for (size_t i = from; i < words.size(); ++i) {
        text += (text.empty() ? "" : " ") + words[i];
    }
    return text;
}

} // namespace

FakePowerPlatform::FakePowerPlatform() : state_(std::make_shared<State>()) {}

std::unique_lock<std::mutex> FakePowerPlatform::lock() const {
    return std::unique_lock(state_->mutex);
}

void FakePowerPlatform::setBattery(PowerControl::Battery battery) {
    const auto guard = lock();
    state_->battery = battery;
}
void FakePowerPlatform::setLidClosed(bool closed) {
    const auto guard = lock();
    state_->lidClosed = closed;
}
void FakePowerPlatform::setHelperInstalled(bool installed) {
    const auto guard = lock();
    state_->helperInstalled = installed;
}
void FakePowerPlatform::setHelperWorks(bool works) {
    const auto guard = lock();
    state_->helperWorks = works;
}
void FakePowerPlatform::setHelperResult(const std::string& subcommand,
                                        PowerControl::RunResult result) {
    const auto guard = lock();
    state_->helperResults[subcommand] = std::move(result);
}
void FakePowerPlatform::queueHelperResult(const std::string& subcommand,
                                          PowerControl::RunResult result) {
    const auto guard = lock();
    state_->queuedResults[subcommand].push_back(std::move(result));
}
void FakePowerPlatform::setRunScript(RunScript script) {
    const auto guard = lock();
    state_->runScript = std::move(script);
}
void FakePowerPlatform::refuseAssertions(const std::string& type, bool refuse) {
    const auto guard = lock();
    state_->refused[type] = refuse;
}
void FakePowerPlatform::setSleepNowResult(PowerControl::RunResult result) {
    const auto guard = lock();
    state_->sleepNowResult = std::move(result);
}
void FakePowerPlatform::setDisplaySleepNowResult(PowerControl::RunResult result) {
    const auto guard = lock();
    state_->displaySleepNowResult = std::move(result);
}
void FakePowerPlatform::setInstallError(std::optional<std::string> message) {
    const auto guard = lock();
    state_->installError = std::move(message);
}
void FakePowerPlatform::setAdminError(std::optional<std::string> message) {
    const auto guard = lock();
    state_->adminError = std::move(message);
}

std::vector<std::string> FakePowerPlatform::journal() const {
    const auto guard = lock();
    return state_->journal;
}
std::vector<FakePowerPlatform::RunCall> FakePowerPlatform::runCalls() const {
    const auto guard = lock();
    return state_->runs;
}
std::vector<std::string> FakePowerPlatform::helperCalls() const {
    const auto guard = lock();
    std::vector<std::string> calls;
    for (const auto& run : state_->runs) {
        if (isHelperCall(run)) {
            calls.push_back(joined(run.arguments, 2));
        }
    }
    return calls;
}
bool FakePowerPlatform::held(const std::string& type) const {
    const auto guard = lock();
    const auto found = state_->held.find(type);
    return found != state_->held.end() && found->second;
}
int FakePowerPlatform::acquisitions(const std::string& type) const {
    const auto guard = lock();
    const auto found = state_->acquisitions.find(type);
    return found == state_->acquisitions.end() ? 0 : found->second;
}
int FakePowerPlatform::releases(const std::string& type) const {
    const auto guard = lock();
    const auto found = state_->releases.find(type);
    return found == state_->releases.end() ? 0 : found->second;
}
int FakePowerPlatform::batteryReads() const {
    const auto guard = lock();
    return state_->batteryReads;
}
int FakePowerPlatform::sleepNowCalls() const {
    const auto guard = lock();
    return state_->sleepNowCalls;
}
int FakePowerPlatform::displaySleepNowCalls() const {
    const auto guard = lock();
    return state_->displaySleepNowCalls;
}
int FakePowerPlatform::wakeDisplayCalls() const {
    const auto guard = lock();
    return state_->wakeDisplayCalls;
}
std::vector<int> FakePowerPlatform::installedMinimumBatteries() const {
    const auto guard = lock();
    return state_->installs;
}
std::vector<std::string> FakePowerPlatform::adminScripts() const {
    const auto guard = lock();
    return state_->adminScripts;
}
void FakePowerPlatform::clearRecords() {
    const auto guard = lock();
    state_->journal.clear();
    state_->runs.clear();
    state_->acquisitions.clear();
    state_->releases.clear();
    state_->batteryReads = 0;
    state_->sleepNowCalls = 0;
    state_->displaySleepNowCalls = 0;
    state_->wakeDisplayCalls = 0;
    state_->installs.clear();
    state_->adminScripts.clear();
}

std::unique_ptr<PowerControl::Assertion>
FakePowerPlatform::makeAssertion(const std::string& type, const std::string& reason) {
    return std::make_unique<FakeAssertion>(state_, type, reason);
}

PowerControl::Battery FakePowerPlatform::battery() {
    const auto guard = lock();
    ++state_->batteryReads;
    return state_->battery;
}

bool FakePowerPlatform::isLidClosed() {
    const auto guard = lock();
    return state_->lidClosed;
}

PowerControl::RunResult FakePowerPlatform::run(const std::string& tool,
                                               const std::vector<std::string>& arguments,
                                               double timeout) {
    const RunCall call{tool, arguments, timeout};
    RunScript script;
    {
        const auto guard = lock();
        state_->runs.push_back(call);
        state_->journal.push_back("run " + tool + (arguments.empty() ? "" : " ") +
                                  joined(arguments, 0));
        script = state_->runScript;
    }
    if (script) {
        if (auto result = script(call)) {
            return *result;
        }
    }
    const auto guard = lock();
    if (!isHelperCall(call)) {
        return {};
    }
    const std::string& subcommand = call.arguments[2];
    auto& queued = state_->queuedResults[subcommand];
    if (!queued.empty()) {
        auto result = queued.front();
        queued.pop_front();
        return result;
    }
    const auto standing = state_->helperResults.find(subcommand);
    return standing == state_->helperResults.end() ? PowerControl::RunResult{} : standing->second;
}

bool FakePowerPlatform::isHelperInstalled() {
    const auto guard = lock();
    return state_->helperInstalled;
}

bool FakePowerPlatform::helperWorks() {
    const auto guard = lock();
    state_->journal.push_back("helperWorks");
    return state_->helperWorks;
}

void FakePowerPlatform::wakeDisplay() {
    const auto guard = lock();
    ++state_->wakeDisplayCalls;
    state_->journal.push_back("wakeDisplay");
}

void FakePowerPlatform::runAsAdmin(const std::string& script, const std::string& prompt) {
    const auto guard = lock();
    state_->adminScripts.push_back(script);
    state_->journal.push_back("runAsAdmin " + prompt);
    if (state_->adminError) {
        throw PowerControl::SetupError::failed(*state_->adminError);
    }
}

void FakePowerPlatform::installHelper(int minimumBattery) {
    const auto guard = lock();
    state_->installs.push_back(minimumBattery);
    state_->journal.push_back("installHelper " + std::to_string(minimumBattery));
    if (state_->installError) {
        throw PowerControl::SetupError::failed(*state_->installError);
    }
}

PowerControl::RunResult FakePowerPlatform::sleepNow() {
    const auto guard = lock();
    ++state_->sleepNowCalls;
    state_->journal.push_back("sleepNow");
    return state_->sleepNowResult;
}

PowerControl::RunResult FakePowerPlatform::displaySleepNow() {
    const auto guard = lock();
    ++state_->displaySleepNowCalls;
    state_->journal.push_back("displaySleepNow");
    return state_->displaySleepNowResult;
}
