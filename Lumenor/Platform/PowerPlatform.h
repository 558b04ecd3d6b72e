#pragma once

#include "Lumenor/Platform/PowerControl.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

/// The power layer as the engine sees it: one object the app binds to the real PowerControl
/// and tests replace with a double that records calls and returns scripted results.
class PowerPlatform {
public:
    virtual ~PowerPlatform() = default;

    virtual std::unique_ptr<PowerControl::Assertion> makeAssertion(const std::string& type,
                                                                   const std::string& reason) = 0;
    virtual PowerControl::Battery battery() = 0;
    virtual bool isLidClosed() = 0;
    /// May block up to `timeout` seconds; never called on the main thread except at shutdown.
    virtual PowerControl::RunResult
    run(const std::string& tool, const std::vector<std::string>& arguments, double timeout) = 0;
    virtual bool isHelperInstalled() = 0;
    /// May block up to 20 seconds.
    virtual bool helperWorks() = 0;
    virtual void wakeDisplay() = 0;
    /// Throws PowerControl::SetupError; may block while the prompt is open.
    virtual void runAsAdmin(const std::string& script, const std::string& prompt) = 0;
    /// Throws PowerControl::SetupError; may block while the prompt is open.
    virtual void installHelper(int minimumBattery) = 0;
    virtual PowerControl::RunResult sleepNow() = 0;
    virtual PowerControl::RunResult displaySleepNow() = 0;
    /// Why sleepNow cannot work here; none when it may. May block briefly on the system bus.
    virtual std::optional<std::string> sleepProblem() = 0;
    /// Why displaySleepNow cannot work here; none when it may. Starts no process.
    virtual std::optional<std::string> displaySleepProblem() = 0;
};

/// The real power layer: each call goes straight to PowerControl.
class SystemPowerPlatform : public PowerPlatform {
public:
    std::unique_ptr<PowerControl::Assertion> makeAssertion(const std::string& type,
                                                           const std::string& reason) override {
        return PowerControl::makeAssertion(type, reason);
    }
    PowerControl::Battery battery() override { return PowerControl::battery(); }
    bool isLidClosed() override { return PowerControl::isLidClosed(); }
    PowerControl::RunResult run(const std::string& tool, const std::vector<std::string>& arguments,
                                double timeout) override {
        return PowerControl::run(tool, arguments, timeout);
    }
    bool isHelperInstalled() override { return PowerControl::isHelperInstalled(); }
    bool helperWorks() override { return PowerControl::helperWorks(); }
    void wakeDisplay() override { PowerControl::wakeDisplay(); }
    void runAsAdmin(const std::string& script, const std::string& prompt) override {
        PowerControl::runAsAdmin(script, prompt);
    }
    void installHelper(int minimumBattery) override { PowerControl::installHelper(minimumBattery); }
    PowerControl::RunResult sleepNow() override { return PowerControl::sleepNow(); }
    PowerControl::RunResult displaySleepNow() override { return PowerControl::displaySleepNow(); }
    std::optional<std::string> sleepProblem() override { return PowerControl::sleepProblem(); }
    std::optional<std::string> displaySleepProblem() override {
        return PowerControl::displaySleepProblem();
    }
};
