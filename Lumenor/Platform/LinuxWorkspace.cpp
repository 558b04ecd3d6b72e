#include "Lumenor/Platform/LinuxWorkspace.h"

#include "Lumenor/Platform/DBusCall.h"

#include "LumenorCore/ProcessTree.h"

#include <QDBusConnectionInterface>
#include <QDBusServiceWatcher>
#include <QMetaObject>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <system_error>

#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

/// Programs that many unrelated processes run; an entry that starts one of them cannot be
/// recognised by its process.
const std::set<std::string> sharedPrograms = {
    "sh",   "bash", "dash", "zsh",  "fish",    "env",  "python", "python3",
    "perl", "ruby", "node", "java", "flatpak", "snap", "gjs",    "xdg-open"};

// Kernels before 5.3 have no pidfd: there a watched process is looked at this often, slowly
// enough that an idle app still sleeps most of the time.
constexpr int fallbackCheckMs = 5000;

const QString upowerService = QStringLiteral("org.freedesktop.UPower");
const QString upowerPaths[] = {QStringLiteral("/org/freedesktop/UPower"),
                               QStringLiteral("/org/freedesktop/UPower/devices/DisplayDevice")};
/// What a battery reading is made of; UPower changes the rest (energy, rate, times) often.
const QStringList batteryProperties = {QStringLiteral("OnBattery"), QStringLiteral("Percentage"),
                                       QStringLiteral("State")};

std::string fileName(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

/// What the process table says about one process; nothing when it is unreadable or gone.
struct ProcessInfo {
    int32_t pid = 0;
    int32_t parent = 0;
    std::string executable; // file name of /proc/<pid>/exe
    std::string argument0;  // file name of argv[0]
};

std::optional<int32_t> parsePid(const std::string& text) {
    int32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value <= 0) {
        return std::nullopt;
    }
    return value;
}

/// The parent from "pid (comm) state ppid …"; comm may itself hold spaces and parentheses.
std::optional<int32_t> readParent(const fs::path& folder) {
    std::ifstream stream(folder / "stat");
    std::string stat;
    std::getline(stream, stat);
    const auto close = stat.rfind(')');
    if (close == std::string::npos) {
        return std::nullopt;
    }
    std::istringstream fields(stat.substr(close + 1));
    std::string state;
    int64_t parent = -1;
    if (!(fields >> state >> parent) || parent < 0) {
        return std::nullopt;
    }
    return static_cast<int32_t>(parent);
}

std::string readExecutable(const fs::path& folder) {
    std::error_code error;
    std::string target = fs::read_symlink(folder / "exe", error).string();
    static const std::string deleted = " (deleted)";
    if (target.size() > deleted.size() && target.ends_with(deleted)) {
        target.resize(target.size() - deleted.size());
    }
    return error ? "" : fileName(target);
}

std::string readArgument0(const fs::path& folder) {
    std::ifstream stream(folder / "cmdline", std::ios::binary);
    std::string argument;
    std::getline(stream, argument, '\0');
    return fileName(argument);
}

std::optional<ProcessInfo> readProcess(const fs::path& folder, uid_t user) {
    const auto pid = parsePid(folder.filename().string());
    struct stat info {};
    if (!pid || ::stat(folder.c_str(), &info) != 0 || info.st_uid != user) {
        return std::nullopt;
    }
    const auto parent = readParent(folder);
    if (!parent) {
        return std::nullopt; // gone while we looked
    }
    return ProcessInfo{*pid, *parent, readExecutable(folder), readArgument0(folder)};
}

std::vector<ProcessInfo> userProcesses(const fs::path& procRoot) {
    std::vector<ProcessInfo> processes;
    const uid_t user = ::getuid();
    std::error_code error;
    for (fs::directory_iterator it(procRoot, error), end; !error && it != end;
         it.increment(error)) {
        if (auto process = readProcess(it->path(), user)) {
            processes.push_back(std::move(*process));
        }
    }
    std::sort(processes.begin(), processes.end(),
              [](const ProcessInfo& a, const ProcessInfo& b) { return a.pid < b.pid; });
    return processes;
}

/// Program file name → the entry that starts it; a regular entry beats a hidden one.
std::map<std::string, const DesktopEntry*> programIndex(const std::vector<DesktopEntry>& entries) {
    std::map<std::string, const DesktopEntry*> index;
    for (const DesktopEntry& entry : entries) {
        if (sharedPrograms.count(entry.program) != 0) {
            continue;
        }
        auto [slot, inserted] = index.emplace(entry.program, &entry);
        if (!inserted && !slot->second->isRegular && entry.isRegular) {
            slot->second = &entry;
        }
    }
    return index;
}

const DesktopEntry* entryFor(const ProcessInfo& process,
                             const std::map<std::string, const DesktopEntry*>& index) {
    for (const std::string& name : {process.executable, process.argument0}) {
        if (const auto found = index.find(name); !name.empty() && found != index.end()) {
            return found->second;
        }
    }
    return nullptr;
}

fs::file_time_type modificationTime(const fs::path& path) {
    std::error_code error;
    const auto time = fs::last_write_time(path, error);
    return error ? fs::file_time_type::min() : time;
}

} // namespace

/// The parsed entries, read again only when the folders or the locale change.
struct LinuxWorkspace::EntryCache {
    std::vector<fs::path> directories;
    std::vector<fs::file_time_type> stamps;
    std::string locale;
    std::vector<DesktopEntry> entries;
    bool loaded = false;
};

/// A watched process: its pidfd and what reports its end.
struct LinuxWorkspace::Watch {
    int pidfd = -1;
    QSocketNotifier* notifier = nullptr;
    QTimer* timer = nullptr;

    ~Watch() {
        if (notifier) {
            notifier->setEnabled(false);
            notifier->deleteLater();
        }
        if (timer) {
            timer->stop();
            timer->deleteLater();
        }
        if (pidfd >= 0) {
            ::close(pidfd);
        }
    }
};

LinuxWorkspace::LinuxWorkspace(QObject* parent, fs::path procRoot)
    : Workspace(parent), procRoot_(std::move(procRoot)), cache_(std::make_unique<EntryCache>()),
      batteryTimer_(this) {
    DBusCall::systemBus().connect(DBusCall::logindService, DBusCall::logindPath,
                                  DBusCall::logindManager, QStringLiteral("PrepareForSleep"), this,
                                  SLOT(prepareForSleep(bool)));
    // logind announces every inhibitor taken or dropped as a change of these properties.
    DBusCall::systemBus().connect(DBusCall::logindService, DBusCall::logindPath,
                                  QStringLiteral("org.freedesktop.DBus.Properties"),
                                  QStringLiteral("PropertiesChanged"), this,
                                  SLOT(logindPropertiesChanged(QString, QVariantMap)));
    // Without UPower the battery is read from sysfs, which tells no one when it changes.
    batteryTimer_.setInterval(std::chrono::minutes(1));
    batteryTimer_.setTimerType(Qt::VeryCoarseTimer);
    connect(&batteryTimer_, &QTimer::timeout, this, &Workspace::batteryChanged);
    watchPowerServices();
}

LinuxWorkspace::~LinuxWorkspace() = default;

void LinuxWorkspace::logindPropertiesChanged(const QString& interface, const QVariantMap& changed) {
    if (interface == DBusCall::logindManager &&
        (changed.contains(QStringLiteral("BlockInhibited")) ||
         changed.contains(QStringLiteral("DelayInhibited")))) {
        emit logindInhibitorsChanged();
    }
}

const std::vector<DesktopEntry>& LinuxWorkspace::desktopEntries() {
    const auto directories = DesktopEntries::applicationDirectories();
    const auto locale = DesktopEntries::currentLocale();
    std::vector<fs::file_time_type> stamps;
    for (const fs::path& directory : directories) {
        stamps.push_back(modificationTime(directory));
    }
    EntryCache& cache = *cache_;
    if (!cache.loaded || cache.directories != directories || cache.locale != locale ||
        cache.stamps != stamps) {
        cache.entries = DesktopEntries::load(directories, locale);
        cache.directories = directories;
        cache.stamps = std::move(stamps);
        cache.locale = locale;
        cache.loaded = true;
    }
    return cache.entries;
}

std::vector<RunningApplication> LinuxWorkspace::runningApplications() {
    const auto index = programIndex(desktopEntries());
    std::vector<std::pair<ProcessInfo, const DesktopEntry*>> matched;
    for (ProcessInfo& process : userProcesses(procRoot_)) {
        if (const DesktopEntry* entry = entryFor(process, index)) {
            matched.emplace_back(std::move(process), entry);
        }
    }
    std::map<int32_t, const DesktopEntry*> entryOfPid;
    for (const auto& [process, entry] : matched) {
        entryOfPid[process.pid] = entry;
    }
    std::vector<RunningApplication> applications;
    for (const auto& [process, entry] : matched) {
        // Helper processes an application starts for itself are part of that application.
        const auto parent = entryOfPid.find(process.parent);
        if (parent != entryOfPid.end() && parent->second == entry) {
            continue;
        }
        applications.push_back(
            {process.pid, entry->name, entry->id, entry->icon, entry->isRegular});
    }
    return applications;
}

void LinuxWorkspace::watchProcess(int32_t pid) {
    if (watches_.count(pid) != 0) {
        return;
    }
    const int pidfd = pid > 0 ? ProcessTree::openPidfd(pid) : -1;
    const int error = pid > 0 ? errno : ESRCH;
    auto watch = std::make_unique<Watch>();
    if (pidfd < 0 && (error == ESRCH || error == EINVAL)) {
        // Already gone: report it the way a live one would be, from the event loop, unless it
        // is unwatched before then.
        QMetaObject::invokeMethod(
            this, [this, pid] { finishWatch(pid); }, Qt::QueuedConnection);
    } else if (pidfd >= 0) {
        watch->pidfd = pidfd;
        watch->notifier = new QSocketNotifier(pidfd, QSocketNotifier::Read, this);
        connect(watch->notifier, &QSocketNotifier::activated, this,
                [this, pid] { finishWatch(pid); });
    } else {
        // No pidfd on this kernel: look now and then.
        watch->timer = new QTimer(this);
        connect(watch->timer, &QTimer::timeout, this, [this, pid] {
            if (::kill(pid, 0) != 0 && errno == ESRCH) {
                finishWatch(pid);
            }
        });
        watch->timer->start(fallbackCheckMs);
    }
    watches_.emplace(pid, std::move(watch));
}

void LinuxWorkspace::unwatchProcess(int32_t pid) {
    watches_.erase(pid);
}

void LinuxWorkspace::watchBattery(bool on) {
    if (on == batteryWatched_) {
        return;
    }
    batteryWatched_ = on;
    const QDBusConnection bus = DBusCall::systemBus();
    if (on && bus.isConnected()) {
        upowerWatcher_ = new QDBusServiceWatcher(upowerService, bus,
                                                 QDBusServiceWatcher::WatchForOwnerChange, this);
        connect(upowerWatcher_, &QDBusServiceWatcher::serviceOwnerChanged, this,
                [this](const QString&, const QString&, const QString& owner) {
                    chooseBatterySource(!owner.isEmpty());
                });
    } else if (upowerWatcher_) {
        upowerWatcher_->disconnect(this);
        upowerWatcher_->deleteLater();
        upowerWatcher_ = nullptr;
    }
    listenToUPower(on && bus.isConnected());
    chooseBatterySource(upowerWatcher_ && bus.interface()->isServiceRegistered(upowerService));
}

void LinuxWorkspace::chooseBatterySource(bool upowerRuns) {
    if (batteryWatched_ && !upowerRuns) {
        batteryTimer_.start();
    } else {
        batteryTimer_.stop();
    }
}

// Connected by the well-known name, so the signals follow UPower across restarts.
void LinuxWorkspace::listenToUPower(bool on) {
    if (on == upowerHeard_) {
        return;
    }
    QDBusConnection bus = DBusCall::systemBus();
    const QString properties = QStringLiteral("org.freedesktop.DBus.Properties");
    const QString changed = QStringLiteral("PropertiesChanged");
    const char* slot = SLOT(upowerChanged(QString, QVariantMap, QStringList));
    for (const QString& path : upowerPaths) {
        if (on) {
            bus.connect(upowerService, path, properties, changed, this, slot);
        } else {
            bus.disconnect(upowerService, path, properties, changed, this, slot);
        }
    }
    upowerHeard_ = on;
}

void LinuxWorkspace::upowerChanged(const QString&, const QVariantMap& changed,
                                   const QStringList& invalidated) {
    for (const QString& name : batteryProperties) {
        if (changed.contains(name) || invalidated.contains(name)) {
            emit batteryChanged();
            return;
        }
    }
}

// Registration only: a service that comes back may grant what it refused while it was away.
void LinuxWorkspace::watchPowerServices() {
    const auto watch = [this](const QDBusConnection& bus, const QStringList& names) {
        if (!bus.isConnected()) {
            return;
        }
        auto* watcher = new QDBusServiceWatcher(this);
        watcher->setConnection(bus);
        watcher->setWatchMode(QDBusServiceWatcher::WatchForRegistration);
        watcher->setWatchedServices(names);
        connect(watcher, &QDBusServiceWatcher::serviceRegistered, this,
                &Workspace::powerServiceAppeared);
    };
    const QString polkit = QStringLiteral("org.freedesktop.PolicyKit1");
    watch(DBusCall::systemBus(), {DBusCall::logindService, polkit});
    watch(QDBusConnection::sessionBus(), {DBusCall::portalService});
    // A new or ended login session, or new polkit rules, may change what polkit allows this user.
    const struct {
        QString service, path, interface, signal;
    } changes[] = {
        {DBusCall::logindService, DBusCall::logindPath, DBusCall::logindManager, "SessionNew"},
        {DBusCall::logindService, DBusCall::logindPath, DBusCall::logindManager, "SessionRemoved"},
        {polkit, "/org/freedesktop/PolicyKit1/Authority", polkit + ".Authority", "Changed"},
    };
    for (const auto& change : changes) {
        DBusCall::systemBus().connect(change.service, change.path, change.interface, change.signal,
                                      this, SIGNAL(powerServiceAppeared()));
    }
}

void LinuxWorkspace::finishWatch(int32_t pid) {
    if (watches_.erase(pid) != 0) {
        emit processEnded(pid);
    }
}

bool LinuxWorkspace::fileExists(const fs::path& path) {
    std::error_code error;
    return fs::exists(path, error);
}

void LinuxWorkspace::prepareForSleep(bool starting) {
    if (!starting) {
        emit resumedFromSuspend();
    }
}
