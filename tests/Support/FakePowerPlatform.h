#pragma once

#include "Lumenor/Platform/PowerPlatform.h"

#include <algorithm>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

/// The power layer as a recording double: results are scripted through its fields and every
/// action is journalled in call order. Used on the test's thread only.
class FakePowerPlatform : public PowerPlatform {
public:
    void setBattery(PowerControl::Battery battery) { battery_ = battery; }
    void setLidClosed(bool closed) { lidClosed_ = closed; }
    void setHelperInstalled(bool installed) { helperInstalled_ = installed; }
    /// The wake helper works, and (unless set apart with setLidAvailable) so does the lid.
    void setHelperWorks(bool works) { helperWorks_ = lidWorks_ = works; }
    void setLidAvailable(bool works) { lidWorks_ = works; }
    void setHasLid(bool has) { hasLid_ = has; }
    /// Results of "takeLid", "renewLid", "setWakeAlarm" and "cancelWakeAlarm": queued ones
    /// first, once each, then the standing one, else done.
    std::map<std::string, std::deque<PowerResult>> queuedResults;
    std::map<std::string, PowerResult> standingResults;
    /// Called with the operation's name while a lid or wake-alarm operation runs.
    std::function<void(const std::string&)> duringOperation;
    /// Assertion types whose acquisition is refused, with the failure it gives.
    std::set<std::string> refusedAssertions;
    std::string refusal = "no login manager (logind) on the system bus";
    /// Assertion types held but named by no mechanism: a grant taken back after the take.
    std::set<std::string> withdrawnAssertions;
    PowerControl::RunResult sleepNowResult;
    PowerControl::RunResult displaySleepNowResult;
    std::optional<std::string> sleepProblemResult;
    std::optional<std::string> displaySleepProblemResult;
    /// installHelper and uninstallHelper throw SetupError::failed with this text while set.
    std::optional<std::string> setupError;
    /// What setupBlocker answers.
    std::optional<std::string> setupBlocked;
    /// What listInhibitors answers; none plays a machine without logind.
    std::optional<std::vector<PowerControl::Inhibitor>> inhibitors{std::in_place};
    /// Every call by name ("takeLid", "setWakeAlarm <epoch>", "sleepNow", "wakeHelperWorks",
    /// "installHelper", "assert <type> on|off", …), in order.
    std::vector<std::string> journal;
    std::set<std::string> held;
    int lidBatteryFloor = 0;

    long count(const std::string& action) const { return std::ranges::count(journal, action); }
    /// The lid and wake-alarm operations of the journal, in order.
    std::vector<std::string> operations() const {
        std::vector<std::string> found;
        for (const auto& entry : journal)
            if (entry.find("Lid") != std::string::npos ||
                entry.find("WakeAlarm") != std::string::npos)
                found.push_back(entry);
        return found;
    }

    /// The system assertion stands for logind, the display one for the screen saver.
    struct Assertion : PowerControl::Assertion {
        Assertion(FakePowerPlatform& power, const std::string& type, const std::string& reason)
            : PowerControl::Assertion(type, reason), power(power) {}
        std::vector<std::string> heldBy() const override {
            if (id() == 0 || power.withdrawnAssertions.contains(type()))
                return {};
            return {type() == PowerControl::displayAssertionType ? "screensaver" : "logind"};
        }
        std::string failure() const override { return refused; }
        uint32_t acquire() override {
            refused = power.refusedAssertions.contains(type()) ? power.refusal : "";
            if (refused.empty())
                power.held.insert(power.record("assert " + type() + " on", type()));
            return refused.empty();
        }
        void release(uint32_t) override {
            power.held.erase(power.record("assert " + type() + " off", type()));
        }
        FakePowerPlatform& power;
        std::string refused;
    };
    std::unique_ptr<PowerControl::Assertion> makeAssertion(const std::string& type,
                                                           const std::string& reason) override {
        return std::make_unique<Assertion>(*this, type, reason);
    }
    PowerControl::Battery battery() override { return battery_; }
    bool isLidClosed() override { return lidClosed_; }
    bool hasLid() override { return hasLid_; }
    bool lidAvailable() override { return record("lidAvailable", lidWorks_); }
    PowerResult takeLid() override { return operation("takeLid"); }
    PowerResult renewLid() override { return operation("renewLid"); }
    void releaseLid() override { operation("releaseLid"); }
    void setLidBatteryFloor(int percent) override { lidBatteryFloor = percent; }
    bool wakeHelperInstalled() override { return helperInstalled_; }
    bool wakeHelperWorks() override { return record("wakeHelperWorks", helperWorks_); }
    PowerResult setWakeAlarm(Instant at) override {
        using std::chrono::seconds;
        return operation("setWakeAlarm",
                         std::to_string(duration_cast<seconds>(at.time_since_epoch()).count()));
    }
    PowerResult cancelWakeAlarm() override { return operation("cancelWakeAlarm"); }
    void wakeDisplay() override { record("wakeDisplay", true); }
    std::optional<std::string> setupBlocker() override { return setupBlocked; }
    void installHelper() override { administer("installHelper"); }
    void uninstallHelper() override { administer("uninstallHelper"); }
    PowerControl::RunResult sleepNow() override { return record("sleepNow", sleepNowResult); }
    PowerControl::RunResult displaySleepNow() override {
        return record("displaySleepNow", displaySleepNowResult);
    }
    std::optional<std::vector<PowerControl::Inhibitor>> listInhibitors() override {
        return inhibitors;
    }
    std::optional<std::string> sleepProblem() override { return sleepProblemResult; }
    std::optional<std::string> displaySleepProblem() override { return displaySleepProblemResult; }

private:
    template <class T> T record(const std::string& name, T result) {
        journal.push_back(name);
        return result;
    }
    void administer(const std::string& name) {
        journal.push_back(name);
        if (setupError)
            throw PowerControl::SetupError::failed(*setupError);
    }
    PowerResult operation(const std::string& name, const std::string& argument = {}) {
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

    PowerControl::Battery battery_;
    bool lidClosed_ = false;
    bool helperInstalled_ = false;
    bool helperWorks_ = false;
    bool lidWorks_ = false;
    bool hasLid_ = true;
};
