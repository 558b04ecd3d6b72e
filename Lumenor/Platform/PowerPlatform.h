#pragma once

#include "Lumenor/Platform/LogindInhibitors.h"
#include "Lumenor/Platform/PowerControl.h"
#include "LumenorCore/Instant.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

class LidInhibitor;

/// How a lid or wake-alarm operation ended.
struct PowerResult {
    enum class Outcome { done, refused, failed };
    Outcome outcome = Outcome::done;
    /// Why it was refused or failed, in words for people; empty when done.
    std::string reason;
    bool ok() const { return outcome == Outcome::done; }
    bool operator==(const PowerResult&) const = default;
    static PowerResult refused(std::string why) { return {Outcome::refused, std::move(why)}; }
    static PowerResult failed(std::string why) { return {Outcome::failed, std::move(why)}; }
};

/// The power layer as the engine sees it: one object the app binds to the real PowerControl
/// and tests replace with a double that records calls and returns scripted results.
class PowerPlatform {
public:
    virtual ~PowerPlatform() = default;

    virtual std::unique_ptr<PowerControl::Assertion> makeAssertion(const std::string& type,
                                                                   const std::string& reason) = 0;
    virtual PowerControl::Battery battery() = 0;
    virtual bool isLidClosed() = 0;
    /// Whether the computer has a lid at all (LidSwitch::present); a double has one unless told.
    virtual bool hasLid() { return true; }

    /// Whether Lumenor may hold the lid switch here (logind grants the inhibitor). May block a
    /// few seconds.
    virtual bool lidAvailable() = 0;
    /// Holds the lid switch for a lease: done, refused with a reason ("battery below 10%"), or
    /// failed with logind's error. Taking it while held renews the lease. May block a few seconds.
    virtual PowerResult takeLid() = 0;
    /// Extends the lease of a held lid; failed when it is not held any more (the lease ran out,
    /// the battery fell below the floor).
    virtual PowerResult renewLid() = 0;
    /// Gives the lid switch back; nothing when it is not held.
    virtual void releaseLid() = 0;
    /// The battery floor in percent below which the lid is refused and given back.
    virtual void setLidBatteryFloor(int percent) = 0;

    /// The root helper for the wake alarm is in place. Starts no process.
    virtual bool wakeHelperInstalled() = 0;
    /// The wake helper is installed, runs and finds a wake-capable clock. May block 20 seconds.
    virtual bool wakeHelperWorks() = 0;
    /// Sets the hardware wake alarm for `at` through the root helper. May block 20 seconds.
    virtual PowerResult setWakeAlarm(Instant at) = 0;
    /// Cancels the wake alarm the helper set, if any. May block 20 seconds.
    virtual PowerResult cancelWakeAlarm() = 0;

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
    bool hasLid() override;
    bool lidAvailable() override;
    PowerResult takeLid() override;
    PowerResult renewLid() override;
    void releaseLid() override;
    void setLidBatteryFloor(int percent) override;
    bool wakeHelperInstalled() override { return PowerControl::isHelperInstalled(); }
    bool wakeHelperWorks() override { return PowerControl::helperWorks(); }
    PowerResult setWakeAlarm(Instant at) override;
    PowerResult cancelWakeAlarm() override;
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
