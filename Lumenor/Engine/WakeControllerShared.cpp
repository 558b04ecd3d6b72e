#include "Lumenor/Engine/WakeController.h"

#include "Lumenor/Platform/LinuxWorkspace.h"
#include "LumenorCore/LumenorPaths.h"

#include <QSettings>

namespace {

/// The settings file Qt would pick for "Lumenor", but under LumenorPaths' home and owner-only
/// before the first value is written; a file that cannot be made so is reported on saving.
std::shared_ptr<QSettings> settingsStore() {
    const std::filesystem::path file = LumenorPaths::settingsFile();
    try {
        LumenorPaths::createPrivateFile(file);
    } catch (const std::filesystem::filesystem_error&) {
    }
    return std::make_shared<QSettings>(QString::fromStdString(file.string()), QSettings::IniFormat);
}

} // namespace

WakeController& WakeController::shared() {
    // Built on first use and never released: background work may still hold its parts.
    static WakeController* const instance = new WakeController(Environment{
        .clock = [] { return std::chrono::system_clock::now(); },
        .power = std::make_shared<SystemPowerPlatform>(),
        .workspace = std::make_shared<LinuxWorkspace>(),
        .settings = settingsStore(),
        .logFile = LumenorPaths::logFile(),
        .stateFile = LumenorPaths::stateFile(),
        .mainThread = std::make_shared<MainThreadExecutor>(),
        .privileged = std::make_shared<SerialQueue>(),
        .background = std::make_shared<BackgroundExecutor>(),
    });
    return *instance;
}
