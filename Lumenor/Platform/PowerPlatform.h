#pragma once

#include "Lumenor/Platform/LogindInhibitors.h"
#include "Lumenor/Platform/PowerControl.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

class LidInhibitor;

/// The power layer as the engine sees it: one object the app binds to the real PowerControl
/// and tests replace with a double that records calls and returns scripted results.
class PowerPlatform {
public:
    virtual ~PowerPlatform() = default;

    virtual std::unique_ptr<PowerControl::Assertion> makeAssertion(const std::string& type,
                                                                   const std::string& reason) = 0;
    virtual PowerControl::Battery battery() = 0;
    virtual bool isLidClosed() = 0;
    /// One helper request (a subcommand and its arguments) with the helper's exit statuses and
    /// output, wherever it is served: the lid words in-process, the wake words by the root
    /// helper. May block up to 20 seconds; never called on the main thread except at shutdown.
    virtual PowerControl::RunResult helper(const std::vector<std::string>& words) = 0;
    /// Whether a request for `subcommand` reaches anything now. Starts no process.
    virtual bool helperAnswers(const std::string& subcommand) = 0;
    /// The wake helper works. May block up to 20 seconds.
    virtual bool helperWorks() = 0;
    /// Lid-closed mode can be had (logind grants the lid inhibitor). May block a few seconds.
    virtual bool lidModeWorks() = 0;
    /// The battery floor in percent below which "lid-on" is refused and the lid is given back.
    virtual void setLidBatteryFloor(int percent) = 0;
    virtual void wakeDisplay() = 0;
    /// Why setup cannot start here; none when it can. Starts no process.
    virtual std::optional<std::string> setupBlocker() = 0;
    /// Throws PowerControl::SetupError; may block while the prompt is open.
    virtual void installHelper() = 0;
    /// Throws PowerControl::SetupError; may block while the prompt is open.
    virtual void uninstallHelper() = 0;
    virtual PowerControl::RunResult sleepNow() = 0;
    virtual PowerControl::RunResult displaySleepNow() = 0;
    /// Every inhibitor logind holds; none when logind cannot be asked. May block a few seconds.
    virtual std::optional<std::vector<PowerControl::Inhibitor>> listInhibitors() = 0;
    /// Why sleepNow cannot work here; none when it may. May block briefly on the system bus.
    virtual std::optional<std::string> sleepProblem() = 0;
    /// Why displaySleepNow cannot work here; none when it may. Starts no process.
    virtual std::optional<std::string> displaySleepProblem() = 0;
};

/// The real power layer: PowerControl, with lid-closed mode held by the app itself.
class SystemPowerPlatform : public PowerPlatform {
public:
    SystemPowerPlatform();
    ~SystemPowerPlatform() override;

    std::unique_ptr<PowerControl::Assertion> makeAssertion(const std::string& type,
                                                           const std::string& reason) override {
        return PowerControl::makeAssertion(type, reason);
    }
    PowerControl::Battery battery() override { return PowerControl::battery(); }
    bool isLidClosed() override { return PowerControl::isLidClosed(); }
    PowerControl::RunResult helper(const std::vector<std::string>& words) override;
    bool helperAnswers(const std::string& subcommand) override;
    bool helperWorks() override { return PowerControl::helperWorks(); }
    bool lidModeWorks() override;
    void setLidBatteryFloor(int percent) override;
    void wakeDisplay() override { PowerControl::wakeDisplay(); }
    std::optional<std::string> setupBlocker() override { return PowerControl::setupBlocker(); }
    void installHelper() override { PowerControl::installHelper(); }
    void uninstallHelper() override { PowerControl::uninstallHelper(); }
    PowerControl::RunResult sleepNow() override { return PowerControl::sleepNow(); }
    PowerControl::RunResult displaySleepNow() override { return PowerControl::displaySleepNow(); }
    std::optional<std::vector<PowerControl::Inhibitor>> listInhibitors() override {
        return PowerControl::listInhibitors();
    }
    std::optional<std::string> sleepProblem() override { return PowerControl::sleepProblem(); }
    std::optional<std::string> displaySleepProblem() override {
        return PowerControl::displaySleepProblem();
    }

private:
    std::unique_ptr<LidInhibitor> lid_;
};
