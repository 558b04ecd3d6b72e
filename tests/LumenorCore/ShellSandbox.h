#pragma once

#include "Support/Files.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

/// What a child process left behind: its exit status and its output.
struct ShellResult {
    int status = -1;
    std::string out;
    std::string err;

    /// "<status>: <standard error>", to compare a failure whole.
    std::string failure() const { return std::to_string(status) + ": " + err; }
};

/// A plain environment for running the system's own tools.
inline const std::vector<std::string> toolEnvironment{"PATH=/usr/bin:/bin", "LC_ALL=C.UTF-8"};

/// Runs `argv` (argv[0] an absolute path) with exactly `environment` and `input` on standard
/// input, and waits for it; a child killed by signal n reports 128 + n.
ShellResult runProcess(const std::vector<std::string>& argv,
                       const std::vector<std::string>& environment, std::string_view input = {});

/// A private root folder in which the helper's shell scripts run for real under /bin/sh.
/// `rewrite` prefixes their absolute paths (/var/lib, /usr/local, /etc/sudoers.d, /tmp,
/// /sys/class/rtc, the system tools, the script's PATH) with the root, also inside base64
/// payloads.
/// The tools are stand-ins, one script (StandInTools.sh) under every name. Their fake world lives
/// in files under /fake: logger's syslog, rtcwake's alarm (rtcwake fails without
/// /sys/class/rtc/rtc0/wakealarm and, while /fake/slow exists, takes a moment and then records
/// "rtcwake done"). flock is the real one waiting at most 5 seconds, so that a helper that locks
/// itself fails fast; date +%s reads `now`. Every call is recorded in calls (sandbox root
/// removed); a call that starts with a prefix listed in intercepts exits at once.
class ShellSandbox {
public:
    ShellSandbox();

    /// Where the absolute path `absolute` lives in the sandbox.
    std::filesystem::path at(std::string_view absolute) const {
        return root_.path().string() + std::string(absolute);
    }
    std::string rewrite(std::string_view text) const;
    /// Runs `script` (rewritten) with /bin/sh -c; the root is removed from its output.
    ShellResult run(std::string_view script) const;

    void write(std::string_view absolute, std::string_view content) {
        writeFile(at(absolute), content);
    }
    std::optional<std::string> read(std::string_view absolute) const;
    bool exists(std::string_view absolute) const {
        return std::filesystem::exists(std::filesystem::symlink_status(at(absolute)));
    }
    unsigned mode(std::string_view absolute) const { return modeOf(at(absolute)); }

    /// Stand-in calls ("tool arg...") that start with `prefix` exit with `status` at once.
    void interceptCalls(std::string_view prefix, int status);
    /// Recorded stand-in calls that start with `prefix`.
    std::vector<std::string> calls(std::string_view prefix = {}) const;

    long long now = 1'700'000'000;

private:
    TemporaryFolder root_{"lumenor-sandbox"};
};
