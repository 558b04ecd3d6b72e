#include "Lumenor/Engine/InstantMath.h"
#include "Lumenor/Engine/WakeController.h"
#include "LumenorCore/LumenorPaths.h"
#include "LumenorCore/ProcessTree.h"

#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <limits>
#include <sstream>
#include <stdexcept>

// The state file holds one JSON object: {"boot": id, "session": null | {"kind": ...,
// "startedAt": epoch seconds, and the kind's own fields}}. Kinds: "indefinite", "until" (end),
// "app" (pid, name), "process" (pid, label), "download" (path).

namespace {

using nlohmann::json;

/// Why a state file cannot be used, in words for the log.
struct BadState : std::runtime_error {
    using std::runtime_error::runtime_error;
};

/// A state file is a few hundred bytes; anything far larger is not one of ours.
constexpr std::streamsize largestState = 64 * 1024;
/// The clock counts nanoseconds in 64 bits, about 292 years either side of 1970; a saved instant
/// stays a century inside that (about 1808 to 2162), so arithmetic on it cannot overflow.
constexpr long long latestEpochSecond =
    std::chrono::duration_cast<std::chrono::seconds>(Instant::duration::max()).count() -
    100LL * 366 * 24 * 3600;

/// This boot's identity; pids saved in another boot name other processes. Empty when unknown.
std::string currentBoot() {
    std::ifstream in("/proc/sys/kernel/random/boot_id");
    std::string boot;
    std::getline(in, boot);
    return boot;
}

/// A whole number; a float would not even convert safely.
long long integer(const json& value) {
    if (!value.is_number_integer()) {
        throw BadState("a number is not a whole one");
    }
    return value.get<long long>();
}

long long epoch(const json& value) {
    const auto seconds = integer(value);
    if (seconds < -latestEpochSecond || seconds > latestEpochSecond) {
        throw BadState("an instant lies out of range");
    }
    return seconds;
}

Instant instant(const json& value) {
    return Instant(std::chrono::seconds(epoch(value)));
}

int32_t pid(const json& value) {
    const auto number = integer(value);
    if (number < 1 || number > std::numeric_limits<int32_t>::max()) {
        throw BadState("a process id is out of range");
    }
    return static_cast<int32_t>(number);
}

json encode(const KeepAwakeSession& session) {
    json object = {{"startedAt", epochSeconds(session.startedAt)}};
    const SessionKind& kind = session.kind;
    if (const auto* until = kind.as<SessionKind::Until>()) {
        object.update({{"kind", "until"}, {"end", epochSeconds(until->end)}});
    } else if (const auto* app = kind.as<SessionKind::App>()) {
        object.update({{"kind", "app"}, {"pid", app->pid}, {"name", app->name}});
    } else if (const auto* process = kind.as<SessionKind::Process>()) {
        object.update({{"kind", "process"}, {"pid", process->pid}, {"label", process->label}});
    } else if (const auto* file = kind.as<SessionKind::File>()) {
        object.update({{"kind", "download"}, {"path", file->path.string()}});
    } else {
        object["kind"] = "indefinite";
    }
    return object;
}

SessionKind decodeKind(const json& object) {
    const auto kind = object.at("kind").get<std::string>();
    if (kind == "indefinite") {
        return SessionKind::indefinite();
    }
    if (kind == "until") {
        return SessionKind::until(instant(object.at("end")));
    }
    if (kind == "app") {
        return SessionKind::app(pid(object.at("pid")), object.at("name").get<std::string>());
    }
    if (kind == "process") {
        return SessionKind::process(pid(object.at("pid")), object.at("label").get<std::string>());
    }
    if (kind == "download") {
        return SessionKind::file(object.at("path").get<std::string>());
    }
    throw BadState("unknown session kind \"" + kind + "\"");
}

/// The saved session and whether it was saved in this boot; none when nothing is saved.
/// Throws BadState for anything that is not a state file this program wrote.
std::optional<std::pair<KeepAwakeSession, bool>> readState(const std::filesystem::path& file) {
    // Opened as a regular file only: a FIFO in its place would block the start for good.
    const int fd = LumenorPaths::openRegularFile(file, O_RDONLY);
    if (fd < 0 && errno == ENOENT) {
        return std::nullopt;
    }
    if (fd < 0) {
        throw BadState(
            "couldn't read " + file.filename().string() + ": " +
            LumenorPaths::describeFailure(std::error_code(errno, std::system_category())));
    }
    std::string text(largestState + 1, '\0');
    ssize_t got = 0;
    std::size_t size = 0;
    while (size < text.size() && (got = ::read(fd, text.data() + size, text.size() - size)) > 0) {
        size += static_cast<std::size_t>(got);
    }
    const int readError = got < 0 ? errno : 0;
    ::close(fd);
    if (readError != 0) {
        throw BadState("couldn't read " + file.filename().string() + ": " +
                       std::strerror(readError));
    }
    text.resize(size);
    if (text.size() > static_cast<size_t>(largestState)) {
        throw BadState(file.filename().string() + " is far too large");
    }
    try {
        const json state = json::parse(text);
        const json& saved = state.at("session");
        if (saved.is_null()) {
            return std::nullopt;
        }
        const std::string boot = state.value("boot", std::string());
        const bool sameBoot = boot.empty() || boot == currentBoot();
        return std::pair(KeepAwakeSession{decodeKind(saved), instant(saved.at("startedAt"))},
                         sameBoot);
    } catch (const json::parse_error&) {
        throw BadState(file.filename().string() + " is not valid JSON");
    } catch (const json::exception&) {
        throw BadState(file.filename().string() + " lacks a field or has one of the wrong type");
    }
}

/// Replaces `file` with `text` in one step, owner-only; returns errno on failure, else 0. The
/// temporary file is made afresh (O_EXCL): whatever was left or planted under its name goes.
int writeAtomically(const std::filesystem::path& file, const std::string& text) {
    const std::string temporary = file.string() + ".tmp";
    ::unlink(temporary.c_str());
    const int fd =
        ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        return errno;
    }
    bool ok = ::fchmod(fd, 0600) == 0;
    for (size_t done = 0; ok && done < text.size();) {
        const ssize_t wrote = ::write(fd, text.data() + done, text.size() - done);
        ok = wrote > 0 || (wrote < 0 && errno == EINTR);
        done += wrote > 0 ? static_cast<size_t>(wrote) : 0;
    }
    ok = ok && ::fsync(fd) == 0;
    const int failure = ok ? 0 : errno;
    ::close(fd);
    if (ok && ::rename(temporary.c_str(), file.c_str()) == 0) {
        return 0;
    }
    const int renameFailure = ok ? errno : failure;
    ::unlink(temporary.c_str());
    return renameFailure;
}

} // namespace

void WakeController::saveSession() {
    if (stateFile_.empty() || stateFrozen_) {
        return;
    }
    const json state = {{"boot", currentBoot()},
                        {"session", session_ ? encode(*session_) : json(nullptr)}};
    int failure = 0;
    try {
        LumenorPaths::createPrivateDirectory(stateFile_.parent_path());
        failure = writeAtomically(stateFile_, state.dump() + "\n");
    } catch (const std::filesystem::filesystem_error& error) {
        failure = error.code().value();
    }
    if (failure == 0) {
        return;
    }
    const std::string why =
        LumenorPaths::describeFailure(std::error_code(failure, std::system_category()));
    // Removing needs no space: with no file, at least no ended session comes back.
    const bool removed = ::unlink(stateFile_.c_str()) == 0 || errno == ENOENT;
    unsavedState_ = removed ? "⚠️ Couldn't save the session (" + why +
                                  "), so a restart of Lumenor won't bring it back."
                            : "⚠️ Couldn't save the session (" + why +
                                  "), and an earlier one may come back when Lumenor restarts.";
    unsavedStateLingers_ = !removed;
    if (removed && !session_) {
        unsavedState_.reset(); // nothing saved is the right outcome
    }
    log("⚠️ State: couldn't save the session: " + why +
            (removed ? "; state.json removed" : "; state.json left as it was"),
        LogEvent::Kind::warning);
}

void WakeController::restoreSession() {
    if (stateFile_.empty() || session_) {
        return;
    }
    std::optional<std::pair<KeepAwakeSession, bool>> saved;
    try {
        saved = readState(stateFile_);
    } catch (const BadState& bad) {
        setStateAside(bad.what());
        return;
    }
    if (!saved) {
        return;
    }
    const auto& [session, sameBoot] = *saved;
    const SessionKind& kind = session.kind;
    const auto* app = kind.as<SessionKind::App>();
    const auto* process = kind.as<SessionKind::Process>();
    const auto* file = kind.as<SessionKind::File>();
    const bool applies = (app == nullptr || (sameBoot && ProcessTree::isAlive(app->pid))) &&
                         (process == nullptr || (sameBoot && ProcessTree::isAlive(process->pid))) &&
                         (file == nullptr || workspace_->fileExists(file->path)) &&
                         (!kind.endsAt() || *kind.endsAt() > clock_());
    if (!applies) {
        saveSession(); // forgets it
        return;
    }
    publish(session_, std::optional<KeepAwakeSession>(session));
    log("Restored: " + session.title(clock_()));
    applyPowerState();
    enforceBatteryFloor();
}

void WakeController::setStateAside(const std::string& what) {
    std::error_code error;
    std::filesystem::path aside = stateFile_.string() + ".bad";
    for (int n = 2; std::filesystem::exists(aside, error) && n < 100; ++n) {
        aside = stateFile_.string() + ".bad." + std::to_string(n);
    }
    std::filesystem::rename(stateFile_, aside, error);
    if (error) {
        // Writing over it would lose what it holds: leave it for people to look at.
        stateFrozen_ = true;
        log("⚠️ State: " + what + "; left in place, as it couldn't be moved aside (" +
                LumenorPaths::describeFailure(error) + ")",
            LogEvent::Kind::warning);
        return;
    }
    log("⚠️ State: " + what + "; kept as " + aside.filename().string(),
        LogEvent::Kind::warning);
}
