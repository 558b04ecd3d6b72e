#pragma once

#include "Lumenor/Platform/PowerPlatform.h"

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

/// The power layer as a recording double. Every action is journalled in call order, results are
/// scripted, and all of it is safe to use from the privileged queue's thread.
class FakePowerPlatform : public PowerPlatform {
public:
    struct RunCall {
        std::string tool;
        std::vector<std::string> arguments;
        double timeout = 0;
        bool operator==(const RunCall&) const = default;
    };
    /// Decides a run's result; none falls through to the scripted helper results.
    using RunScript = std::function<std::optional<PowerControl::RunResult>(const RunCall&)>;

    FakePowerPlatform();

    // Scripting
    void setBattery(PowerControl::Battery battery);
    void setLidClosed(bool closed);
    void setHelperInstalled(bool installed);
    void setHelperWorks(bool works);
    /// The standing result of every helper call with this subcommand ("lid-on", "schedule-wake").
    void setHelperResult(const std::string& subcommand, PowerControl::RunResult result);
    /// A result used once, before the standing one, by the next helper call with this subcommand.
    void queueHelperResult(const std::string& subcommand, PowerControl::RunResult result);
    /// Consulted first for every run (outside the double's lock, so it may call back in).
    void setRunScript(RunScript script);
    /// Assertions of this type are refused (acquire yields 0) while set.
    void refuseAssertions(const std::string& type, bool refuse);
    void setSleepNowResult(PowerControl::RunResult result);
    void setDisplaySleepNowResult(PowerControl::RunResult result);
    /// installHelper and runAsAdmin throw SetupError::failed with this text while set.
    void setInstallError(std::optional<std::string> message);
    void setAdminError(std::optional<std::string> message);

    // Records
    /// Every action in order: "run <tool> <args…>", "sleepNow", "displaySleepNow",
    /// "wakeDisplay", "installHelper <floor>", "runAsAdmin <prompt>", "assert <type> on|off".
    std::vector<std::string> journal() const;
    std::vector<RunCall> runCalls() const;
    /// The words after the helper path of each sudo call, joined by spaces ("lid-off").
    std::vector<std::string> helperCalls() const;
    bool held(const std::string& type) const;
    int acquisitions(const std::string& type) const;
    int releases(const std::string& type) const;
    int batteryReads() const;
    int sleepNowCalls() const;
    int displaySleepNowCalls() const;
    int wakeDisplayCalls() const;
    std::vector<int> installedMinimumBatteries() const;
    std::vector<std::string> adminScripts() const;
    void clearRecords();

    // PowerPlatform
    std::unique_ptr<PowerControl::Assertion> makeAssertion(const std::string& type,
                                                           const std::string& reason) override;
    PowerControl::Battery battery() override;
    bool isLidClosed() override;
    PowerControl::RunResult run(const std::string& tool, const std::vector<std::string>& arguments,
                                double timeout) override;
    bool isHelperInstalled() override;
    bool helperWorks() override;
    void wakeDisplay() override;
    void runAsAdmin(const std::string& script, const std::string& prompt) override;
    void installHelper(int minimumBattery) override;
    PowerControl::RunResult sleepNow() override;
    PowerControl::RunResult displaySleepNow() override;

    /// Shared with the assertions handed out, which may outlive the double.
    struct State;

private:
    std::unique_lock<std::mutex> lock() const;

    std::shared_ptr<State> state_;
};
