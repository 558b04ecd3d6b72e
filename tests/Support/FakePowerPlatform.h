#pragma once

#include "Lumenor/Platform/PowerPlatform.h"

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
    /// The wake helper works, and (unless set apart with setLidModeWorks) so does the lid.
    void setHelperWorks(bool works) { helperWorks_ = lidWorks_ = works; }
    void setLidModeWorks(bool works) { lidWorks_ = works; }
    /// Plays Linux: the lid words are answered in-process, installed helper or not.
    bool lidInProcess = false;

    /// Helper results by subcommand ("lid-on"): queued ones first, once each, then the
    /// standing one, else success.
    std::map<std::string, std::deque<PowerControl::RunResult>> queuedResults;
    std::map<std::string, PowerControl::RunResult> standingResults;
    /// Called with the subcommand while a helper call runs.
    std::function<void(const std::string&)> duringHelperCall;
    /// Assertion types whose acquisition is refused, with the failure it gives.
    std::set<std::string> refusedAssertions;
    std::string refusal = "no login manager (logind) on the system bus";
    PowerControl::RunResult sleepNowResult;
    PowerControl::RunResult displaySleepNowResult;
    std::optional<std::string> sleepProblemResult;
    std::optional<std::string> displaySleepProblemResult;
    /// installHelper and uninstallHelper throw SetupError::failed with this text while set.
    std::optional<std::string> setupError;
    /// What setupBlocker answers.
    std::optional<std::string> setupBlocked;

    /// What listInhibitors answers; none plays a machine without logind.
    std::optional<std::vector<PowerControl::Inhibitor>> inhibitors =
        std::vector<PowerControl::Inhibitor>{};

    /// "helper <words…>", "sleepNow", "displaySleepNow", "wakeDisplay", "helperWorks",
    /// "lidModeWorks", "installHelper", "uninstallHelper", "assert <type> on|off".
    std::vector<std::string> journal;
    /// The words of each helper call ("schedule-wake 1772388001").
    std::vector<std::string> helperCalls;
    std::set<std::string> held;
    int lidBatteryFloor = 0;

    long count(const std::string& action) const;
    void clearRecords();

    std::unique_ptr<PowerControl::Assertion> makeAssertion(const std::string& type,
                                                           const std::string& reason) override;
    PowerControl::Battery battery() override { return battery_; }
    bool isLidClosed() override { return lidClosed_; }
    PowerControl::RunResult helper(const std::vector<std::string>& words) override;
    bool helperAnswers(const std::string& subcommand) override;
    bool helperWorks() override;
    bool lidModeWorks() override;
    void setLidBatteryFloor(int percent) override { lidBatteryFloor = percent; }
    void wakeDisplay() override { journal.push_back("wakeDisplay"); }
    std::optional<std::string> setupBlocker() override { return setupBlocked; }
    void installHelper() override;
    void uninstallHelper() override;
    PowerControl::RunResult sleepNow() override;
    PowerControl::RunResult displaySleepNow() override;
    std::optional<std::vector<PowerControl::Inhibitor>> listInhibitors() override {
        return inhibitors;
    }
    std::optional<std::string> sleepProblem() override { return sleepProblemResult; }
    std::optional<std::string> displaySleepProblem() override { return displaySleepProblemResult; }

private:
    PowerControl::Battery battery_;
    bool lidClosed_ = false;
    bool helperInstalled_ = false;
    bool helperWorks_ = false;
    bool lidWorks_ = false;
};
