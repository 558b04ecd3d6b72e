#pragma once

#include "Lumenor/Engine/WakeController.h"
#include "Support/FakePowerPlatform.h"
#include "Support/FakeWorkspace.h"
#include "Support/ManualClock.h"
#include "Support/ManualExecutor.h"

#include <QSettings>
#include <QTemporaryDir>

#include <filesystem>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

using Words = std::vector<std::string>;

/// A pid that no process has.
inline constexpr int32_t deadPid = std::numeric_limits<int32_t>::max();

/// Creates the process's QCoreApplication once, unless one (or a QApplication) exists already.
void ensureQtApplication();

/// The instant of a UTC wall-clock reading.
Instant utc(int year, int month, int day, int hour, int minute, int second = 0);

/// A controller wired to doubles: a manual clock, the fake power layer and workspace, manual
/// executors, an INI settings file and a log file in a temporary folder.
class EngineHarness {
public:
    struct Options {
        Instant start = utc(2026, 3, 1, 18, 0, 1);
        /// Raw text for the settings file before the controller reads it.
        std::optional<std::string> settingsFile;
    };

    EngineHarness() : EngineHarness(Options{}) {}
    explicit EngineHarness(Options options);

    WakeController& controller() { return *controller_; }
    WakeController* operator->() { return controller_.get(); }

    /// Moves the clock by `seconds`, firing each deadline on the way as the app's timer would,
    /// reporting processes that ended, and updates once more at the end.
    void tickAfter(double seconds);
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
    /// Runs the privileged queue and the main thread until neither has work left.
    void settle();
    /// Installs a working helper and lets the controller find out.
    void readyHelper();
    /// Replaces the controller with a fresh one reading the same settings file.
    void recreate();

    std::vector<std::string> logLines() const;
    /// Log lines without their timestamps.
    std::vector<std::string> logMessages() const;
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
