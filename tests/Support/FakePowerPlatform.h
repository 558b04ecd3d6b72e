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
    void setHelperWorks(bool works) { helperWorks_ = works; }

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
    /// installHelper and runAsAdmin throw SetupError::failed with this text while set.
    std::optional<std::string> setupError;

    /// "run <tool> <args…>", "sleepNow", "displaySleepNow", "wakeDisplay", "helperWorks",
    /// "assert <type> on|off".
    std::vector<std::string> journal;
    /// The words after the helper path of each helper call ("schedule-wake 1772388001").
    std::vector<std::string> helperCalls;
    double lastRunTimeout = 0;
    std::set<std::string> held;
    std::vector<int> installedFloors;

    long count(const std::string& action) const;
    void clearRecords();

    std::unique_ptr<PowerControl::Assertion> makeAssertion(const std::string& type,
                                                           const std::string& reason) override;
    PowerControl::Battery battery() override { return battery_; }
    bool isLidClosed() override { return lidClosed_; }
    PowerControl::RunResult run(const std::string& tool, const std::vector<std::string>& arguments,
                                double timeout) override;
    bool isHelperInstalled() override { return helperInstalled_; }
    bool helperWorks() override;
    void wakeDisplay() override { journal.push_back("wakeDisplay"); }
    void runAsAdmin(const std::string& script, const std::string& prompt) override;
    void installHelper(int minimumBattery) override;
    PowerControl::RunResult sleepNow() override;
    PowerControl::RunResult displaySleepNow() override;
    std::optional<std::string> sleepProblem() override { return sleepProblemResult; }
    std::optional<std::string> displaySleepProblem() override { return displaySleepProblemResult; }

private:
    PowerControl::Battery battery_;
    bool lidClosed_ = false;
    bool helperInstalled_ = false;
    bool helperWorks_ = false;
};
