#include "Lumenor/Engine/WakeController.h"

#include "LumenorCore/LumenorPaths.h"
#include "LumenorCore/PrivilegedInstall.h"

#include <QSettings>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <unistd.h>

namespace {

struct SettingDefaults {
    static constexpr bool lidClosedMode = true;
    static constexpr bool keepDisplayOn = false;
    static constexpr bool remoteWakeEnabled = false;
    static constexpr int remoteWakeInterval = 15;
    static constexpr int minimumBattery = 10;
    static constexpr bool stopOnLowBattery = true;
};

// A value that is present but not a boolean is treated like a damaged store, not as "true".
std::optional<bool> readBool(const QVariant& value) {
    if (value.typeId() == QMetaType::Bool) {
        return value.toBool();
    }
    const QString text = value.toString().trimmed().toLower();
    if (text == QLatin1String("true") || text == QLatin1String("1")) {
        return true;
    }
    if (text == QLatin1String("false") || text == QLatin1String("0")) {
        return false;
    }
    return std::nullopt;
}

std::optional<int> readInt(const QVariant& value) {
    bool ok = false;
    const qlonglong number = value.toString().trimmed().toLongLong(&ok);
    if (!ok) {
        return std::nullopt;
    }
    return static_cast<int>(std::clamp<qlonglong>(number, std::numeric_limits<int>::min(),
                                                  std::numeric_limits<int>::max()));
}

} // namespace

WakeController::WakeController(Environment environment, QObject* parent)
    : QObject(parent), clock_(std::move(environment.clock)), power_(std::move(environment.power)),
      workspace_(std::move(environment.workspace)), logFile_(std::move(environment.logFile)),
      stateFile_(std::move(environment.stateFile)), mainThread_(std::move(environment.mainThread)),
      background_(std::move(environment.background)), now_(clock_()),
      defaults_(std::move(environment.settings)),
      systemAssertion_(
          power_->makeAssertion(PowerControl::systemAssertionType, "Lumenor keep-awake session")),
      displayAssertion_(
          power_->makeAssertion(PowerControl::displayAssertionType, "Lumenor keep display on")),
      privileged_(std::move(environment.privileged)) {
    loadSettings();
    power_->setLidBatteryFloor(minimumBattery_);
}

WakeController::~WakeController() = default;

void WakeController::loadSettings() {
    std::vector<std::string> unreadable;
    const bool storeReadable = defaults_->status() == QSettings::NoError;
    auto value = [&](const char* key) -> std::optional<QVariant> {
        if (!storeReadable || !defaults_->contains(QLatin1String(key))) {
            return std::nullopt;
        }
        return defaults_->value(QLatin1String(key));
    };
    auto boolean = [&](const char* key, bool fallback) {
        const auto stored = value(key);
        const auto parsed = stored ? readBool(*stored) : std::optional<bool>(fallback);
        if (!parsed) {
            unreadable.emplace_back(key);
        }
        return parsed.value_or(fallback);
    };
    auto integer = [&](const char* key, int fallback) {
        const auto stored = value(key);
        const auto parsed = stored ? readInt(*stored) : std::optional<int>(fallback);
        if (!parsed) {
            unreadable.emplace_back(key);
        }
        return parsed.value_or(fallback);
    };
    using D = SettingDefaults;
    lidClosedMode_ = boolean("lidClosedMode", D::lidClosedMode);
    keepDisplayOn_ = boolean("keepDisplayOn", D::keepDisplayOn);
    remoteWakeEnabled_ = boolean("remoteWakeEnabled", D::remoteWakeEnabled);
    remoteWakeInterval_ = std::max(5, integer("remoteWakeInterval", D::remoteWakeInterval));
    minimumBattery_ = integer("minimumBattery", D::minimumBattery);
    stopOnLowBattery_ = boolean("stopOnLowBattery", D::stopOnLowBattery);

    if (!storeReadable) {
        log("⚠️ Settings: couldn't read " + defaults_->fileName().toStdString() +
            "; using defaults");
    } else if (!unreadable.empty()) {
        std::string keys;
        for (const auto& key : unreadable) {
            keys += (keys.empty() ? "" : ", ") + key;
        }
        log("⚠️ Settings: unreadable " + keys + "; using defaults");
    }
}

void WakeController::storeSetting(const char* key, const QVariant& value) {
    if (defaults_->status() == QSettings::AccessError) {
        // QSettings keeps reporting its first error; only a fresh store on the same file can
        // tell whether this save works.
        auto fresh = std::make_shared<QSettings>(defaults_->fileName(), defaults_->format());
        for (const QString& name : defaults_->allKeys()) {
            fresh->setValue(name, defaults_->value(name));
        }
        defaults_ = std::move(fresh);
    }
    defaults_->setValue(QLatin1String(key), value);
    defaults_->sync();
    std::optional<std::string> problem;
    if (defaults_->status() == QSettings::AccessError) {
        problem = "Couldn't save settings to " + defaults_->fileName().toStdString() + ": " +
                  settingsFailure() + ".";
    }
    if (problem != settingsProblem_) {
        publish(settingsProblem_, problem);
        if (problem) {
            log("⚠️ " + *problem);
        }
    }
}

std::string WakeController::settingsFailure() const {
    // QSettings only says "access error"; the file system says which.
    const std::filesystem::path file = defaults_->fileName().toStdString();
    if (std::filesystem::is_directory(file)) {
        return "a folder is in the way";
    }
    for (const auto& place : {file, file.parent_path()}) {
        if (std::filesystem::exists(place) && ::access(place.c_str(), W_OK) != 0) {
            return LumenorPaths::describeFailure(std::error_code(errno, std::system_category()));
        }
    }
    return "the file could not be written";
}

void WakeController::setLidClosedMode(bool on) {
    publish(lidClosedMode_, on);
    storeSetting("lidClosedMode", on);
    applyPowerState();
}

void WakeController::setKeepDisplayOn(bool on) {
    publish(keepDisplayOn_, on);
    storeSetting("keepDisplayOn", on);
    applyPowerState();
}

void WakeController::setRemoteWakeEnabled(bool on) {
    publish(remoteWakeEnabled_, on);
    storeSetting("remoteWakeEnabled", on);
    if (!on) {
        disarmRemoteCycle();
    }
}

void WakeController::setRemoteWakeInterval(int minutes) {
    publish(remoteWakeInterval_, minutes);
    storeSetting("remoteWakeInterval", minutes);
}

void WakeController::setMinimumBattery(int percent) {
    publish(minimumBattery_, percent);
    storeSetting("minimumBattery", percent);
    power_->setLidBatteryFloor(percent);
    enforceBatteryFloor();
}

void WakeController::setStopOnLowBattery(bool on) {
    publish(stopOnLowBattery_, on);
    storeSetting("stopOnLowBattery", on);
    enforceBatteryFloor();
}

void WakeController::setPendingSleep(std::optional<PendingSleep> request) {
    publish(pendingSleep_, std::move(request));
}

void WakeController::start() {
    if (ticker_ != nullptr) {
        return;
    }
    publish(battery_, power_->battery());
    refreshHelper();
    privileged_->post([power = power_] {
        for (const char* word : {"lid-off", "cancel-wake"}) {
            if (power->helperAnswers(word)) {
                power->helper({word});
            }
        }
    });
    restoreSession();
    ticker_ = new QTimer(this);
    ticker_->setInterval(1000);
    connect(ticker_, &QTimer::timeout, this, &WakeController::tick);
    ticker_->start();
    observers_.push_back(
        connect(workspace_.get(), &Workspace::resumedFromSuspend, this, &WakeController::systemDidWake));
    observers_.push_back(connect(workspace_.get(), &Workspace::processEnded, this,
                                 &WakeController::applicationTerminated));
}

void WakeController::shutdown() {
    if (ticker_ != nullptr) {
        ticker_->stop();
    }
    cancelSleepOperation();
    systemAssertion_->set(false);
    displayAssertion_->set(false);
    // Results still on their way would reapply the power state or start a lid change after
    // the final "lid-off"; from here on they are dropped.
    alive_.reset();
    privileged_->drain();
    if (power_->helperAnswers("lid-off")) {
        power_->helper({"lid-off"});
    }
    if (!remoteCycleArmed_ && power_->helperAnswers("cancel-wake")) {
        power_->helper({"cancel-wake"});
    }
}

void WakeController::postHelper(std::vector<std::string> words) {
    privileged_->post([power = power_, words = std::move(words)] { power->helper(words); });
}

WakeController::MainHop WakeController::mainHop() {
    MainHop hop;
    hop.alive = alive_;
    hop.mainThread = mainThread_;
    hop.controller = this;
    return hop;
}

void WakeController::MainHop::post(std::function<void(WakeController&)> work) const {
    mainThread->post([alive = alive, controller = controller, work = std::move(work)] {
        if (alive.lock()) {
            work(*controller);
        }
    });
}
