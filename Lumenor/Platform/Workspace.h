#pragma once

#include <QObject>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

/// A running application as the desktop knows it.
struct RunningApplication {
    int32_t processIdentifier = 0;
    /// The desktop entry's localized Name=, when it has one.
    std::optional<std::string> localizedName;
    /// The desktop-file id, e.g. "org.gnome.Terminal.desktop".
    std::string bundleIdentifier;
    /// The entry's Icon= value (a theme name or an absolute path); empty when none.
    std::string iconName;
    /// A regular application: shown in menus, not a background service.
    bool isRegular = true;
    bool operator==(const RunningApplication&) const = default;
};

/// The desktop around the app: running applications, wake and quit events, file existence.
/// Signals are delivered on the thread the object lives on (the main thread).
class Workspace : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~Workspace() override = default;

    /// This user's running applications, in a stable order.
    virtual std::vector<RunningApplication> runningApplications() = 0;
    /// Emits didTerminateApplication(pid) once when that process ends (at once if it is gone).
    virtual void watchApplication(int32_t pid) = 0;
    virtual bool fileExists(const std::filesystem::path& path) = 0;

signals:
    /// The system has woken from sleep.
    void didWake();
    /// A process passed to watchApplication has ended.
    void didTerminateApplication(int32_t pid);
};
