#pragma once

#include "Lumenor/Platform/LogindInhibitors.h"
#include "Lumenor/Platform/PowerControl.h"
#include "Lumenor/Platform/PowerPlatform.h"

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
/// thread of its own gives it up when no take or renew came for the lease, so a stuck main
/// thread cannot keep the lid inhibited; take and renew give it up below the battery floor.
/// The watchdog wakes only when a lease would end, so a renewed lid costs no extra wake-ups.
class LidInhibitor {
public:
    static inline const std::string notHeld = "the lid is not held";
    using Clock = std::chrono::steady_clock;
    struct Timing {
        Clock::duration lease = std::chrono::seconds(120);
    };
    using BatteryReader = std::function<PowerControl::Battery()>;

    LidInhibitor();
    LidInhibitor(Timing timing, BatteryReader battery);
    /// Gives the inhibitor up and stops the watchdog.
    ~LidInhibitor();
    LidInhibitor(const LidInhibitor&) = delete;
    LidInhibitor& operator=(const LidInhibitor&) = delete;

    /// logind is reachable and grants the inhibitor: held now, or a trial one was granted.
    /// May block a few seconds on logind; any thread, as every call here.
    bool available();
    /// Holds the lid for a lease, or renews the lease of a held one. Refused ("battery below
    /// N%", given back if held) under the floor; failed with logind's error.
    PowerResult take();
    /// Extends the lease while held and above the floor; failed, saying why it was lost, when
    /// not. Reads the battery, nothing more: cheap enough for the main thread.
    PowerResult renew();
    /// Gives the inhibitor back; nothing when it is not held.
    void release();
    /// The battery floor in percent, clamped to 1...50.
    void setBatteryFloor(int percent);
    bool held() const;

private:
    bool batteryLow() const;
    std::string belowFloor() const;
    void drop(std::string why);
    void extendLease();
    void watch();

    Timing timing_;
    BatteryReader battery_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    int fd_ = -1;
    int floor_ = 10;
    /// Why the lid is not held, for a renew that comes too late.
    std::string lost_ = notHeld;
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
