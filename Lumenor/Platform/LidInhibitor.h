#pragma once

#include "Lumenor/Platform/LogindInhibitors.h"
#include "Lumenor/Platform/PowerControl.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

/// Lid-closed mode without root: a logind block inhibitor on "sleep:idle:handle-lid-switch",
/// held on a descriptor of its own, so it ends with the process whatever kills it. A watchdog
/// thread of its own gives it up when no "lid-on" or "renew" came for the lease, or when the
/// battery falls below the floor, so a stuck main thread cannot keep the lid inhibited.
class LidInhibitor {
public:
    using Clock = std::chrono::steady_clock;
    struct Timing {
        Clock::duration lease = std::chrono::seconds(120);
        /// How often the watchdog reads the battery while the inhibitor is held.
        Clock::duration batteryCheck = std::chrono::seconds(30);
    };
    using BatteryReader = std::function<PowerControl::Battery()>;

    LidInhibitor();
    LidInhibitor(Timing timing, BatteryReader battery);
    /// Gives the inhibitor up and stops the watchdog.
    ~LidInhibitor();
    LidInhibitor(const LidInhibitor&) = delete;
    LidInhibitor& operator=(const LidInhibitor&) = delete;

    /// True for the helper words answered here: "lid-on", "renew", "lid-off".
    static bool serves(const std::string& word);
    /// Answers one of those words with the root helper's exit statuses and texts: "lid-on" 0
    /// held, 3 "battery below N%", 1 logind's error; "renew" 0 while held, else 1; "lid-off" 0.
    /// May block a few seconds on logind; any thread.
    PowerControl::RunResult answer(const std::string& word);
    /// The battery floor in percent, clamped to 1...50.
    void setBatteryFloor(int percent);
    /// logind is reachable and grants the inhibitor: held now, or a trial one was granted.
    bool available();
    bool held() const;

private:
    PowerControl::RunResult lidOn();
    bool batteryLow() const;
    void release();
    void watch();

    Timing timing_;
    BatteryReader battery_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    int fd_ = -1;
    int floor_ = 10;
    Clock::time_point leaseEnds_;
    bool stopping_ = false;
    std::thread watchdog_;
};

namespace PowerControl {

/// The program, other than this one (`ownPid`, or the name and reason it takes the lid with),
/// that holds a block inhibitor on handle-lid-switch; logind then leaves the lid to it. None when
/// there is none.
std::optional<std::string> lidHandledBy(const std::vector<Inhibitor>& inhibitors, uint32_t ownPid);

} // namespace PowerControl
