#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

/// Every call the app makes into the system's power management, and every child process it
/// starts. Synchronous: callers choose the thread that blocks.
namespace PowerControl {

/// How a failure begins when logind's authorization check (polkit) said no, so that the advice
/// can name that way out rather than a missing logind.
inline const std::string authorizationRefused = "the system's authorization (polkit) refused";

/// The last battery reading. Missing data reads as "not on battery, percent unknown".
struct Battery {
    bool onBattery = false;
    std::optional<int64_t> percent;
    bool operator==(const Battery&) const = default;
};

/// Exit status and trimmed output of a child process; -1 launch failure, -2 time-out.
struct RunResult {
    int32_t code = 0;
    std::string output;
    bool operator==(const RunResult&) const = default;
};

/// One power assertion, held at most once. Destroying it does not release a held assertion:
/// its owner does that.
class Assertion {
public:
    Assertion(std::string type, std::string reason)
        : type_(std::move(type)), reason_(std::move(reason)) {}
    virtual ~Assertion() = default;
    Assertion(const Assertion&) = delete;
    Assertion& operator=(const Assertion&) = delete;

    const std::string& type() const { return type_; }
    const std::string& reason() const { return reason_; }
    /// Not 0 exactly while the assertion is held.
    uint32_t id() const { return id_; }

    /// The mechanisms holding the assertion now ("logind", "portal", "power-manager",
    /// "screensaver"); empty while it is not held, and for assertions that name none.
    virtual std::vector<std::string> heldBy() const { return {}; }
    /// Why the last take held nothing, in words for people; empty after a take that held.
    virtual std::string failure() const { return {}; }

    /// Changes the reason the system is given: at the next take, and at once where a held
    /// mechanism can be told without a moment unheld.
    void setReason(const std::string& reason) {
        if (reason != reason_) {
            reason_ = reason;
            if (id_ != 0) {
                reasonChanged();
            }
        }
    }

    /// Takes or releases the assertion. Taking twice holds one; a refused take leaves id 0,
    /// with failure() saying why, so the next set(true) tries again.
    void set(bool on) {
        if (on && id_ == 0) {
            id_ = acquire();
        } else if (!on && id_ != 0) {
            release(id_);
            id_ = 0;
        }
    }

protected:
    /// Asks the system for the assertion: a non-zero id, or 0 when it was refused.
    virtual uint32_t acquire() = 0;
    /// Gives back what acquire() returned.
    virtual void release(uint32_t id) = 0;
    /// Tells what is held the new reason(); nothing by default.
    virtual void reasonChanged() {}

private:
    std::string type_;
    std::string reason_;
    uint32_t id_ = 0;
};

/// Failures of the administrator prompt; what() is the text shown to the user.
class SetupError : public std::runtime_error {
public:
    enum class Kind { failed, badUser };
    static SetupError failed(const std::string& message) { return {Kind::failed, message}; }
    static SetupError badUser() { return {Kind::badUser, "Unsupported user name for sudoers."}; }
    Kind kind() const { return kind_; }

private:
    SetupError(Kind kind, const std::string& message) : std::runtime_error(message), kind_(kind) {}
    Kind kind_;
};

/// The two kinds of assertion: the machine stays up; the display stays lit.
inline const std::string systemAssertionType = "system";
inline const std::string displayAssertionType = "display";

/// A system assertion (logind's sleep:idle inhibitor, the desktop portal's suspend|idle
/// inhibitor and the power manager's, held together) or a display assertion (the screen
/// saver's inhibitor and the portal's idle one), chosen by `type`. Held while any part is.
std::unique_ptr<Assertion> makeAssertion(const std::string& type, const std::string& reason);

/// Internal batteries and mains supplies under `powerSupplyRoot`.
Battery battery(const std::filesystem::path& powerSupplyRoot = "/sys/class/power_supply");

/// True only when a lid state file under `lidRoot` says closed; every failure reads as open.
bool isLidClosed(const std::filesystem::path& lidRoot = "/proc/acpi/button/lid");

/// Runs `tool` with `arguments`, stdout and stderr on one pipe, stdin inherited. Never throws.
/// The pipe is drained while the child runs; a child still running at the time-out gets SIGTERM
/// (SIGKILL five seconds later) and is reaped in the background, never left as a zombie.
RunResult run(const std::string& tool, const std::vector<std::string>& arguments, double timeout);

/// The wake helper's file is executable and the sudoers file exists. Starts no process.
bool isHelperInstalled();

/// Installed, `sudo -n helper status` succeeds and reports a wake-capable clock (rtc=1).
bool helperWorks();

/// Runs the wake helper through `sudo -n` with a subcommand and its arguments, 20 s at most.
RunResult runHelper(const std::vector<std::string>& words);

/// Lights the display as if the user had touched the machine; returns at once.
void wakeDisplay();

/// Runs `script` as root through pkexec and the desktop's polkit agent; `command` ("setup",
/// "uninstall-helper") names the `lumenor … --print-script | sudo sh` offered when nobody can be
/// asked. Throws SetupError: "Setup was cancelled." when the dialog is dismissed.
void runAsAdmin(const std::string& script, const std::string& command);

/// Installs the wake helper for the current user. Throws SetupError.
void installHelper();

/// Removes what installHelper put in place. Throws SetupError.
void uninstallHelper();

/// Why setup cannot start here (checked before any prompt); none when it can.
std::optional<std::string> setupBlocker();

/// Suspends the machine now; code 0 on success.
RunResult sleepNow();

/// Turns the display off now where the display server allows it; code 0 on success, else the
/// reason in the output.
RunResult displaySleepNow();

/// Why displaySleepNow cannot work here (no X display, no xset, a Wayland desktop without a
/// known way); none when it may. Starts no process.
std::optional<std::string> displaySleepProblem();

/// Why sleepNow cannot work here, asking logind; none when it may.
std::optional<std::string> sleepProblem();

} // namespace PowerControl
