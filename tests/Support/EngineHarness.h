#pragma once

#include "Lumenor/Engine/InstantMath.h"
#include "Lumenor/Engine/WakeController.h"
#include "LumenorCore/ProcessTree.h"
#include "Platform/PlatformTestSupport.h"
#include "Support/FakePowerPlatform.h"

#include <QSettings>
#include <QTemporaryDir>

#include <deque>
#include <filesystem>
#include <limits>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

using PowerControl::displayAssertionType;
using PowerControl::systemAssertionType;
using Words = std::vector<std::string>;

/// A pid that no process has.
inline constexpr int32_t deadPid = std::numeric_limits<int32_t>::max();

/// The instant of a UTC wall-clock reading.
Instant utc(int year, int month, int day, int hour, int minute, int second = 0);

/// A clock that moves only when the test moves it.
struct ManualClock {
    Instant at;
    Instant now() const { return at; }
    void advance(double seconds) { at = addSeconds(at, seconds); }
};

/// Keeps posted tasks until the test runs them, on the test's thread.
struct ManualExecutor : SerialExecutor {
    void post(std::function<void()> task) override { tasks.push_back(std::move(task)); }
    /// Kept apart from posted tasks, for the test to run; the delay is recorded.
    void postAfter(double seconds, std::function<void()> task) override {
        delays.push_back(seconds);
        delayed.push_back(std::move(task));
    }
    void drain() override {
        ++drains;
        runAll();
    }
    /// Runs tasks, including those they post, until none is left; returns how many ran.
    size_t runAll() {
        size_t ran = 0;
        for (; !tasks.empty(); ++ran) {
            auto task = std::move(tasks.front());
            tasks.pop_front();
            task();
        }
        return ran;
    }

    std::deque<std::function<void()>> tasks;
    std::vector<std::function<void()>> delayed;
    std::vector<double> delays;
    int drains = 0;
};

/// A desktop with scripted applications and files, whose events a test fires.
struct FakeWorkspace : Workspace {
    std::vector<RunningApplication> applications;
    /// The paths that exist as far as fileExists is concerned.
    std::set<std::filesystem::path> files;
    std::set<int32_t> watchedPids;
    bool batteryWatched = false;

    std::vector<RunningApplication> runningApplications() override { return applications; }
    void watchProcess(int32_t pid) override { watchedPids.insert(pid); }
    void unwatchProcess(int32_t pid) override { watchedPids.erase(pid); }
    bool fileExists(const std::filesystem::path& path) override { return files.contains(path); }
    void watchBattery(bool on) override { batteryWatched = on; }
    /// Ends `pid`, else each watched process that no longer runs, as the system would report it.
    void endProcesses(std::optional<int32_t> pid = {}) {
        for (const int32_t watched : std::set(watchedPids))
            if ((pid ? watched == *pid : !ProcessTree::isAlive(watched)) &&
                watchedPids.erase(watched) != 0)
                emit processEnded(watched);
    }
};

/// A controller wired to doubles: a manual clock, the fake power layer and workspace, manual
/// executors, an INI settings file and a log file in a temporary folder.
class EngineHarness {
public:
    /// Where the clock starts.
    static inline const Instant clockStart = utc(2026, 3, 1, 18, 0, 1);

    /// `settingsFile`: raw text for the settings file before the controller reads it.
    explicit EngineHarness(const std::optional<std::string>& settingsFile = {});

    WakeController& controller() { return *controller_; }
    WakeController* operator->() { return controller_.get(); }

    /// Moves the clock by `seconds`, firing each deadline on the way as the app's timer would,
    /// reporting processes that ended, and updates once more at the end.
    void tickAfter(double seconds) { tickAt(addSeconds(clock.now(), seconds)); }
    void tickAt(Instant instant);
    /// Takes or extends a hold through the controller.
    void hold(const std::string& id, double seconds, std::optional<int32_t> pid = {},
              std::string label = {}) {
        controller_->hold({.id = id, .until = {}, .label = std::move(label), .pid = pid}, seconds);
    }
    /// The text of the controller's last event.
    std::optional<std::string> lastEvent() const {
        const auto& event = controller_->lastEvent();
        return event ? std::optional(event->text) : std::nullopt;
    }
    /// The system assertion is held: the machine is kept awake.
    bool keptAwake() const { return power->held.contains(systemAssertionType); }
    /// Runs the privileged queue and the main thread until neither has work left.
    void settle();
    /// Installs a working helper and lets the controller find out.
    void readyHelper();
    /// Replaces the controller with a fresh one reading the same settings file.
    void recreate();

    /// The log's lines, or without their timestamps.
    Words logLines(bool timestamps = true) const;
    Words logMessages() const { return logLines(false); }
    std::string settingsPath() const { return folder.filePath("settings.ini").toStdString(); }
    /// A settings store opened afresh on the file.
    std::unique_ptr<QSettings> reopenSettings() const {
        return std::make_unique<QSettings>(QString::fromStdString(settingsPath()),
                                           QSettings::IniFormat);
    }

    QTemporaryDir folder;
    ManualClock clock;
    std::shared_ptr<FakePowerPlatform> power = std::make_shared<FakePowerPlatform>();
    std::shared_ptr<FakeWorkspace> workspace = std::make_shared<FakeWorkspace>();
    std::shared_ptr<ManualExecutor> mainThread = std::make_shared<ManualExecutor>();
    std::shared_ptr<ManualExecutor> privileged = std::make_shared<ManualExecutor>();
    std::shared_ptr<ManualExecutor> background = std::make_shared<ManualExecutor>();
    std::filesystem::path logFile = folder.filePath("Support/lumenor.log").toStdString();
    /// Empty: the session is not kept. Set it, then recreate(), to keep it there.
    std::filesystem::path stateFile;

private:
    std::unique_ptr<WakeController> controller_;
};
