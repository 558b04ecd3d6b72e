#include "Lumenor/Engine/WakeController.h"

#include "Lumenor/Platform/LinuxWorkspace.h"
#include "LumenorCore/LumenorPaths.h"

#include <QSettings>

WakeController& WakeController::shared() {
    // Built on first use and never released: background work may still hold its parts.
    static WakeController* const instance = new WakeController(Environment{
        .clock = [] { return std::chrono::system_clock::now(); },
        .power = std::make_shared<SystemPowerPlatform>(),
        .workspace = std::make_shared<LinuxWorkspace>(),
        .settings =
            std::make_shared<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                        QStringLiteral("Lumenor"), QStringLiteral("Lumenor")),
        .logFile = LumenorPaths::logFile(),
        .mainThread = std::make_shared<MainThreadExecutor>(),
        .privileged = std::make_shared<SerialQueue>(),
        .background = std::make_shared<BackgroundExecutor>(),
    });
    return *instance;
}
