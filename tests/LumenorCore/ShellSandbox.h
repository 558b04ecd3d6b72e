#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

/// What a child process left behind: its exit status (128 + signal when killed) and its output.
struct ShellResult {
    int status = -1;
    std::string out;
    std::string err;
};

/// Runs `argv` (argv[0] an absolute path) with exactly `environment` ("NAME=value" entries) and
/// `input` on standard input, and waits for it.
ShellResult runProcess(const std::vector<std::string>& argv,
                       const std::vector<std::string>& environment, std::string_view input = {});

/// A private root folder in which shell scripts written for macOS run for real under /bin/sh.
/// `rewrite` points their absolute paths (/Library, /var/db, /etc/sudoers.d, /private/tmp, the
/// macOS tools and the script's own PATH) into the sandbox, also inside base64 payloads, and
/// puts a folder of stand-in tools first on PATH. The stand-ins keep a small fake world in files:
/// pmset (SleepDisabled, power source and percent, scheduled wakes), launchctl (loaded labels),
/// logger, lockf (flock), date (a fixed now), install (records owner and group), base64 (-D),
/// visudo (the real one). Every call of a stand-in is recorded; any can be told to fail.
class ShellSandbox {
public:
    ShellSandbox();
    ~ShellSandbox();
    ShellSandbox(const ShellSandbox&) = delete;
    ShellSandbox& operator=(const ShellSandbox&) = delete;

    const std::filesystem::path& root() const { return root_; }
    /// Where the absolute macOS path `absolute` lives in the sandbox.
    std::filesystem::path at(std::string_view absolute) const;
    /// `text` with its absolute paths pointed into the sandbox.
    std::string rewrite(std::string_view text) const;

    /// Writes `script` (rewritten) to `absolute` in the sandbox, executable.
    void installScriptFile(std::string_view absolute, std::string_view script);
    /// Executes the file at `absolute` in the sandbox with `args`.
    ShellResult runFile(std::string_view absolute, const std::vector<std::string>& args = {},
                        const std::vector<std::string>& extraEnvironment = {});
    /// Runs `script` (rewritten) with /bin/sh.
    ShellResult runScript(std::string_view script);
    /// Runs `command` (rewritten) with /bin/sh -c.
    ShellResult runCommand(std::string_view command);

    void setNow(long long epochSeconds) { now_ = epochSeconds; }
    long long now() const { return now_; }

    /// Files in the sandbox by their macOS paths; read gives none when the file is missing.
    void write(std::string_view absolute, std::string_view content);
    std::optional<std::string> read(std::string_view absolute) const;
    bool exists(std::string_view absolute) const;
    /// Permission bits of the file at `absolute`, e.g. 0755.
    unsigned mode(std::string_view absolute) const;

    /// pmset's SleepDisabled value; none means pmset -g shows no such line.
    void setSleepDisabled(std::optional<std::string> value);
    std::optional<std::string> sleepDisabled() const;
    /// The power source pmset -g batt reports and the battery percent (none: no percent shown).
    void setBattery(bool onBattery, std::optional<int> percent);
    std::vector<std::string> scheduledWakes() const;
    bool isLoaded(std::string_view label) const;
    void setLoaded(std::string_view label, bool loaded);
    /// logger's messages, one per line.
    std::vector<std::string> systemLog() const;
    /// "owner:group mode" that the install stand-in recorded last for `absolute`.
    std::optional<std::string> installedAs(std::string_view absolute) const;

    /// Stand-in calls whose command line ("tool arg...", sandbox prefix removed) starts with
    /// `prefix` fail with status 1 / succeed without doing anything.
    void failCalls(std::string_view prefix);
    void ignoreCalls(std::string_view prefix);
    void clearFailures();
    /// The environment ("NAME=value" lines) that the last lockf call handed to its command.
    std::vector<std::string> lockfEnvironment() const;
    /// Recorded stand-in calls that start with `prefix`, sandbox prefix removed.
    std::vector<std::string> calls(std::string_view prefix = {}) const;
    void clearCalls();

private:
    std::filesystem::path fake(std::string_view name) const { return root_ / "fake" / name; }
    std::string strip(std::string text) const;
    std::vector<std::string> environment() const;
    void writeStandIns() const;

    std::filesystem::path root_;
    long long now_ = 1'700'000'000;
};
