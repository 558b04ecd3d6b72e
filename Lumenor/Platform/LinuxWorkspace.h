#pragma once

#include "Lumenor/Platform/DesktopEntry.h"
#include "Lumenor/Platform/Workspace.h"

#include <QTimer>

#include <map>
#include <memory>

class QDBusServiceWatcher;

/// The workspace of a Linux desktop: this user's processes that belong to installed desktop
/// entries, logind's wake from sleep, the end of watched processes, UPower's battery changes and
/// the power services' arrival. The desktop entries are read once and again only when an
/// applications folder or the locale changes.
class LinuxWorkspace : public Workspace {
    Q_OBJECT
public:
    /// `procRoot` is where the process table is read (a stand-in folder in tests).
    explicit LinuxWorkspace(QObject* parent = nullptr, std::filesystem::path procRoot = "/proc");
    ~LinuxWorkspace() override;

    /// One entry per application instance, ordered by process id: a process that runs an entry's
    /// program, unless its parent runs the same entry (then it is one of that instance's helpers).
    std::vector<RunningApplication> runningApplications() override;
    void watchProcess(int32_t pid) override;
    void unwatchProcess(int32_t pid) override;
    void watchBattery(bool on) override;
    bool fileExists(const std::filesystem::path& path) override;

private slots:
    void prepareForSleep(bool starting);
    void logindPropertiesChanged(const QString& interface, const QVariantMap& changed);
    void upowerChanged(const QString& interface, const QVariantMap& changed,
                       const QStringList& invalidated);

private:
    struct Watch;
    struct EntryCache;

    const std::vector<DesktopEntry>& desktopEntries();
    void finishWatch(int32_t pid);
    void watchPowerServices();
    /// The minute timer runs while the battery is watched and UPower does not.
    void chooseBatterySource(bool upowerRuns);
    /// UPower's PropertiesChanged signals reach upowerChanged while `on`.
    void listenToUPower(bool on);

    std::filesystem::path procRoot_;
    std::unique_ptr<EntryCache> cache_;
    std::map<int32_t, std::unique_ptr<Watch>> watches_;
    bool batteryWatched_ = false;
    bool upowerHeard_ = false;
    QTimer batteryTimer_;
    QDBusServiceWatcher* upowerWatcher_ = nullptr;
};
