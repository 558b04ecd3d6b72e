#pragma once

#include <QObject>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

/// A running application as the desktop knows it.
struct RunningApplication {
    int32_t pid = 0;
    /// The desktop entry's localized Name=, when it has one.
    std::optional<std::string> localizedName;
    /// The desktop-file id, e.g. "org.gnome.Terminal.desktop".
    std::string desktopId;
    /// The entry's Icon= value (a theme name or an absolute path); empty when none.
    std::string iconName;
    /// A regular application: shown in menus, not a background service.
    bool isRegular = true;
    bool operator==(const RunningApplication&) const = default;
};

/// The system around the app as events: running applications, process ends, resume from
/// suspend, battery changes and power services coming and going. Signals are delivered on the
/// thread the object lives on (the main thread).
class Workspace : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~Workspace() override = default;

    /// This user's running applications, in a stable order.
    virtual std::vector<RunningApplication> runningApplications() = 0;
    /// Emits processEnded(pid) once when that process ends (from the event loop, also when it
    /// is gone already). Watching a watched pid again changes nothing.
    virtual void watchProcess(int32_t pid) = 0;
    /// Stops watching `pid`; no processEnded follows for it.
    virtual void unwatchProcess(int32_t pid) = 0;
    virtual bool fileExists(const std::filesystem::path& path) = 0;
    /// While on, batteryChanged() is emitted when the power supply or charge may have changed:
    /// from UPower's signals where UPower runs, else at most once a minute. Off by default.
    virtual void watchBattery(bool on) = 0;

signals:
    /// The system has resumed from suspend.
    void resumedFromSuspend();
    /// A process passed to watchProcess has ended.
    void processEnded(int32_t pid);
    /// The battery may read differently now (see watchBattery).
    void batteryChanged();
    /// logind, polkit or the desktop portal has appeared on its bus: a refused inhibitor is
    /// worth asking for again.
    void powerServiceAppeared();
    /// logind took or dropped an inhibitor (its BlockInhibited or DelayInhibited changed): who
    /// handles the lid may have changed.
    void logindInhibitorsChanged();
};
