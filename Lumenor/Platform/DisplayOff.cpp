// Turning the display off: `xset dpms force off` on X11, sway's own command on sway; other
// Wayland desktops offer no common way, and saying so beats pretending.
#include "Lumenor/Platform/PowerControl.h"

#include <QStandardPaths>

#include <cstdlib>

namespace PowerControl {

namespace {

constexpr double displayTimeout = 20;

bool environmentSet(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

struct Command {
    std::string tool;
    std::vector<std::string> arguments;
};

/// The command that turns the display off here, or why there is none (in `problem`).
std::optional<Command> displayOffCommand(std::string& problem) {
    if (environmentSet("WAYLAND_DISPLAY")) {
        const QString swaymsg = QStandardPaths::findExecutable(QStringLiteral("swaymsg"));
        if (environmentSet("SWAYSOCK") && !swaymsg.isEmpty()) {
            return Command{swaymsg.toStdString(), {"output * dpms off"}};
        }
        problem = "this Wayland desktop offers no way for apps to turn the display off (only "
                  "sway's is known)";
        return std::nullopt;
    }
    if (!environmentSet("DISPLAY")) {
        problem = "there is no X display (DISPLAY is not set)";
        return std::nullopt;
    }
    const QString xset = QStandardPaths::findExecutable(QStringLiteral("xset"));
    if (xset.isEmpty()) {
        problem = "xset is not installed (Debian package x11-xserver-utils)";
        return std::nullopt;
    }
    return Command{xset.toStdString(), {"dpms", "force", "off"}};
}

} // namespace

std::optional<std::string> displaySleepProblem() {
    std::string problem;
    if (displayOffCommand(problem)) {
        return std::nullopt;
    }
    return problem;
}

RunResult displaySleepNow() {
    std::string problem;
    const auto command = displayOffCommand(problem);
    if (!command) {
        return {1, problem};
    }
    RunResult result = run(command->tool, command->arguments, displayTimeout);
    if (result.code != 0 && result.output.empty()) {
        result.output = command->tool + " failed with status " + std::to_string(result.code);
    }
    return result;
}

} // namespace PowerControl
