#include "Lumenor/Engine/WakeController.h"

#include "LumenorCore/LumenorPaths.h"

#include <QSettings>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <unistd.h>

namespace {

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
    power_->setLidBatteryFloor(minimumBattery());
}

WakeController::~WakeController() = default;

void WakeController::loadSettings() {
    std::vector<std::string> unreadable;
    const bool storeReadable = defaults_->status() == QSettings::NoError;
    for (const auto& setting : LumenorSettings::all) {
        int& value = settings_[static_cast<std::size_t>(setting.id)];
        value = setting.defaultValue;
        const QLatin1String key(setting.key.data(), static_cast<qsizetype>(setting.key.size()));
        if (!storeReadable || !defaults_->contains(key)) {
            continue;
        }
        const QVariant stored = defaults_->value(key);
        if (setting.isBoolean) {
            if (const auto parsed = readBool(stored)) {
                value = *parsed ? 1 : 0;
                continue;
            }
        } else if (const auto parsed = readInt(stored)) {
            value = LumenorSettings::fromFile(setting, *parsed);
            continue;
        }
        unreadable.emplace_back(setting.key);
    }

    if (!storeReadable) {
        log("⚠️ Settings: couldn't read " + defaults_->fileName().toStdString() +
                "; using defaults",
            LogEvent::Kind::warning);
    } else if (!unreadable.empty()) {
        std::string keys;
        for (const auto& key : unreadable) {
            keys += (keys.empty() ? "" : ", ") + key;
        }
        log("⚠️ Settings: unreadable " + keys + "; using defaults", LogEvent::Kind::warning);
    }
}

void WakeController::storeSetting(const LumenorSettings::Setting& setting, int value) {
    if (defaults_->status() == QSettings::AccessError) {
        // QSettings keeps reporting its first error; only a fresh store on the same file can
        // tell whether this save works.
        auto fresh = std::make_shared<QSettings>(defaults_->fileName(), defaults_->format());
        for (const QString& name : defaults_->allKeys()) {
            fresh->setValue(name, defaults_->value(name));
        }
        defaults_ = std::move(fresh);
    }
    defaults_->setValue(
        QLatin1String(setting.key.data(), static_cast<qsizetype>(setting.key.size())),
        setting.isBoolean ? QVariant(value != 0) : QVariant(value));
    defaults_->sync();
    std::optional<std::string> problem;
    if (defaults_->status() == QSettings::AccessError) {
        problem = "Couldn't save settings to " + defaults_->fileName().toStdString() + ": " +
                  settingsFailure() + ".";
    }
    if (problem != settingsProblem_) {
        publish(settingsProblem_, problem);
        if (problem) {
            log("⚠️ " + *problem, LogEvent::Kind::warning);
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

void WakeController::setSetting(LumenorSettings::Id id, int value) {
    using LumenorSettings::Id;
    const auto& setting = LumenorSettings::of(id);
    value = LumenorSettings::clamped(setting, value);
    int& field = settings_[static_cast<std::size_t>(id)];
    if (field != value) {
        field = value;
        noteChange();
    }
    storeSetting(setting, value);
    retryInhibitorsNow();
    switch (id) {
    case Id::lidClosedMode:
    case Id::keepDisplayOn:
        applyPowerState();
        break;
    case Id::remoteWakeEnabled:
        if (value == 0) {
            disarmRemoteCycle();
        }
        break;
    case Id::remoteWakeInterval:
        break;
    case Id::minimumBattery:
        power_->setLidBatteryFloor(value);
        enforceBatteryFloor();
        break;
    case Id::stopOnLowBattery:
        enforceBatteryFloor();
        break;
    }
}

void WakeController::setPendingSleep(std::optional<PendingSleep> request) {
    now_ = clock_();
    publish(pendingSleep_, std::move(request));
}

void WakeController::start() {
    if (started_) {
        return;
    }
    started_ = true;
    publish(battery_, power_->battery());
    refreshHelper();
    // A wake alarm an earlier run left would wake the machine for nothing.
    privileged_->post([power = power_] {
        if (power->wakeHelperInstalled()) {
            power->cancelWakeAlarm();
        }
    });
    restoreSession();
    deadlineTimer_ = new QTimer(this);
    deadlineTimer_->setSingleShot(true);
    // A coarse timer may fire minutes late on a long interval; ends must come within a second.
    deadlineTimer_->setTimerType(Qt::PreciseTimer);
    connect(deadlineTimer_, &QTimer::timeout, this, &WakeController::update);
    const auto* workspace = workspace_.get();
    observers_.push_back(connect(workspace, &Workspace::resumedFromSuspend, this,
                                 &WakeController::resumedFromSuspend));
    observers_.push_back(
        connect(workspace, &Workspace::processEnded, this, &WakeController::processEnded));
    observers_.push_back(
        connect(workspace, &Workspace::batteryChanged, this, &WakeController::batteryChanged));
    observers_.push_back(connect(workspace, &Workspace::powerServiceAppeared, this,
                                 &WakeController::powerServiceAppeared));
    observers_.push_back(connect(workspace, &Workspace::logindInhibitorsChanged, this,
                                 &WakeController::checkLidHandler));
    update();
}

void WakeController::shutdown() {
    if (deadlineTimer_ != nullptr) {
        deadlineTimer_->stop();
    }
    for (const auto& observer : observers_) {
        disconnect(observer);
    }
    cancelSleepOperation();
    systemAssertion_->set(false);
    displayAssertion_->set(false);
    // Results still on their way would reapply the power state or take the lid again after
    // it is given back; from here on they are dropped.
    alive_.reset();
    privileged_->drain();
    power_->releaseLid();
    if (!remoteCycleArmed_ && power_->wakeHelperInstalled()) {
        power_->cancelWakeAlarm();
    }
}

void WakeController::postCancelWakeAlarm() {
    privileged_->post([power = power_] { power->cancelWakeAlarm(); });
}

void WakeController::noteChange() {
    emit changed();
    if (!started_ || syncPosted_ || !alive_) {
        return;
    }
    // Once for all the changes of this turn of the event loop.
    syncPosted_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            syncPosted_ = false;
            syncWaits();
        },
        Qt::QueuedConnection);
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
