#include "Lumenor/Engine/WakeController.h"

#include "Lumenor/Platform/LinuxWorkspace.h"
#include "LumenorCore/LumenorPaths.h"

#include <QSettings>

namespace {

/// A settings file is a few hundred bytes.
constexpr std::uintmax_t largestSettings = 64 * 1024;

/// The settings file Qt would pick for "Lumenor", but under LumenorPaths' home and owner-only
/// before the first value is written; a file that cannot be made so is reported on saving. Any
/// other kind of file in its place (a FIFO would block the start for good) is set aside first,
/// and `problem` says so.
std::shared_ptr<QSettings> settingsStore(std::optional<std::string>& problem) {
    namespace fs = std::filesystem;
    const fs::path file = LumenorPaths::settingsFile();
    std::error_code error;
    // Followed: a settings file linked from elsewhere (a dotfiles folder) is the user's choice.
    const auto type = fs::status(file, error).type();
    std::string wrong;
    if (type != fs::file_type::regular && type != fs::file_type::not_found &&
        type != fs::file_type::none) {
        wrong = "was not a regular file";
    } else if (type == fs::file_type::regular && fs::file_size(file, error) > largestSettings) {
        // Qt reads it whole on the main thread: a huge one would stall the start.
        wrong = "was far too large";
    }
    if (!wrong.empty()) {
        const fs::path aside = file.string() + ".bad";
        fs::rename(file, aside, error);
        problem =
            "⚠️ Settings: " + file.filename().string() + " " + wrong + "; " +
            (error ? "left in place, using defaults" : "kept as " + aside.filename().string());
    }
    try {
        LumenorPaths::createPrivateFile(file);
    } catch (const fs::filesystem_error&) {
    }
    return std::make_shared<QSettings>(QString::fromStdString(file.string()), QSettings::IniFormat);
}

} // namespace

WakeController& WakeController::shared() {
    // Built on first use and never released: background work may still hold its parts.
    static std::optional<std::string> settingsProblem;
    static WakeController* const instance = new WakeController(Environment{
        .clock = [] { return std::chrono::system_clock::now(); },
        .power = std::make_shared<SystemPowerPlatform>(),
        .workspace = std::make_shared<LinuxWorkspace>(),
        .settings = settingsStore(settingsProblem),
        .logFile = LumenorPaths::logFile(),
        .stateFile = LumenorPaths::stateFile(),
        .mainThread = std::make_shared<MainThreadExecutor>(),
        .privileged = std::make_shared<SerialQueue>(),
        .background = std::make_shared<BackgroundExecutor>(),
    });
    if (settingsProblem) {
        instance->log(*std::exchange(settingsProblem, std::nullopt), LogEvent::Kind::warning);
    }
    return *instance;
}
