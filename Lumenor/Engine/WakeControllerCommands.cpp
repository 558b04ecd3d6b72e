#include "Lumenor/Engine/InstantMath.h"
#include "Lumenor/Engine/WakeController.h"

#include "Lumenor/Platform/LidInhibitor.h"

#include "LumenorCore/DurationParser.h"
#include "LumenorCore/LumenorPaths.h"
#include "LumenorCore/LumenorWords.h"
#include "LumenorCore/ProcessTree.h"

#include <QString>

#include <unistd.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <limits>
#include <utility>

namespace {

using Options = std::map<std::string, std::string>;

const std::string* option(const Options& options, const std::string& name) {
    const auto found = options.find(name);
    return found == options.end() ? nullptr : &found->second;
}

// A yes/no word in any letter case; none for any other word.
std::optional<bool> yesNo(std::string word) {
    std::transform(word.begin(), word.end(), word.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (const char* yes : {"1", "true", "yes", "on"}) {
        if (word == yes) {
            return true;
        }
    }
    for (const char* no : {"0", "false", "no", "off"}) {
        if (word == no) {
            return false;
        }
    }
    return std::nullopt;
}

// Boolean options: absent, or what their (checked) word says.
std::optional<bool> flag(const std::string& name, const Options& options) {
    const std::string* value = option(options, name);
    return value == nullptr ? std::nullopt : yesNo(*value);
}

// A whole decimal number with an optional sign and nothing else around it.
template <class Int> std::optional<Int> decimal(const std::string& text) {
    std::string_view digits = text;
    if (!digits.empty() && digits.front() == '+') {
        digits.remove_prefix(1);
        if (!digits.empty() && digits.front() == '-') {
            return std::nullopt;
        }
    }
    Int number{};
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size()) {
        return std::nullopt;
    }
    return number;
}

// The listening window as the sleep announcement words it.
constexpr int remoteWindowMinutes = 3;

// Delays that are no duration to the parser but still mean "at once".
bool isZeroDelay(const std::string& text) {
    const QString word = QString::fromStdString(text).trimmed().toLower();
    return word == QLatin1String("0") || word == QLatin1String("0s") ||
           word == QLatin1String("now");
}

// How long a hold tied to a process lasts at most: the process ends it long before.
constexpr double processHoldSeconds = 365.0 * 24 * 3600;

// A line naming a value that was brought within its range, as the reply's second line.
std::string clampNote(const std::string& setting, long long asked, int kept,
                      const std::string& unit) {
    if (asked == kept) {
        return {};
    }
    return setting + " set to " + std::to_string(kept) + unit +
           (asked < kept ? " (the minimum).\n" : " (the maximum).\n");
}

// Every reply carries every hold; these bounds keep the largest reply far below what the
// command reads (1 MiB): 256 holds of 200-byte ids and labels are about 130 KiB.
constexpr std::size_t maximumHolds = 256;
constexpr std::size_t maximumNameBytes = 200;
constexpr std::array boundedNames{"id", "label", "by"};
// The options of `on` that each say how long a session lasts.
constexpr std::array sessionKindNames{"for", "until", "pid", "app", "file"};

LumenorResponse reply(bool ok, std::string message) {
    return LumenorResponse{.ok = ok, .message = std::move(message)};
}

// The command checks values before it sends them; any program of this user may write to the
// socket, so the same checks hold here: a value that means nothing is refused, never taken as
// "off" or ignored.
std::optional<std::string> invalidOption(const Options& options) {
    for (const auto& [name, value] : options) {
        const auto setting = std::find_if(LumenorSettings::all.begin(), LumenorSettings::all.end(),
                                          [&](const auto& s) { return s.option == name; });
        const bool boolean = name == "now" || name == "require_held" ||
                             (setting != LumenorSettings::all.end() && setting->isBoolean);
        std::string wanted;
        if (boolean && !yesNo(value)) {
            wanted = "on or off";
        } else if (setting != LumenorSettings::all.end() && !setting->isBoolean &&
                   !decimal<long long>(value)) {
            wanted = "a whole number";
        } else if (name == "after_pid" && decimal<int32_t>(value).value_or(0) < 1) {
            wanted = "a process id";
        } else if (value.size() > maximumNameBytes &&
                   std::find(boundedNames.begin(), boundedNames.end(), name) !=
                       boundedNames.end()) {
            return name + " takes at most " + std::to_string(maximumNameBytes) + " bytes, not " +
                   std::to_string(value.size()) + ".";
        }
        if (!wanted.empty()) {
            return name + " takes " + wanted + ", not “" + value + "”.";
        }
    }
    return std::nullopt;
}

std::filesystem::path expandTilde(const std::string& text) {
    if (text == "~") {
        return LumenorPaths::homeDirectory();
    }
    if (text.rfind("~/", 0) == 0) {
        return LumenorPaths::homeDirectory() / text.substr(2);
    }
    return text;
}

bool sameNameIgnoringCase(const std::optional<std::string>& name, const std::string& wanted) {
    return name && QString::fromStdString(*name).compare(QString::fromStdString(wanted),
                                                         Qt::CaseInsensitive) == 0;
}

} // namespace

LumenorResponse WakeController::handle(const LumenorRequest& request) {
    now_ = clock_();
    replyInhibitors_.reset();
    unsavedState_.reset();
    settleLidChange();
    // A reply describes the lid after the change it asked for, so that change happens now.
    lidChangesNow_ = true;
    LumenorResponse response = dispatch(request);
    lidChangesNow_ = false;
    if (unsavedState_) {
        response.message += "\n" + *unsavedState_;
        response.ok = response.ok && !unsavedStateLingers_;
    }
    response.status = snapshot();
    response.status->otherInhibitors = std::exchange(replyInhibitors_, std::nullopt);
    return response;
}

LumenorResponse WakeController::dispatch(const LumenorRequest& request) {
    using Command = LumenorResponse (WakeController::*)(const Options&);
    static const std::array<std::pair<const char*, Command>, 15> commands{{
        {"status", &WakeController::commandStatus},
        {"on", &WakeController::commandOn},
        {"off", &WakeController::commandOff},
        {"wake", &WakeController::commandWake},
        {"rest", &WakeController::commandRest},
        {"sleep", &WakeController::commandSleep},
        {"cancel-sleep", &WakeController::commandCancelSleep},
        {"hold", &WakeController::commandHold},
        {"release", &WakeController::commandRelease},
        {"set", &WakeController::commandSet},
        {"setup", &WakeController::commandSetup},
        {"uninstall-helper", &WakeController::commandUninstallHelper},
        {"ping", &WakeController::commandPing},
        {"holds", &WakeController::commandHolds},
        {"inhibitors", &WakeController::commandInhibitors},
    }};
    for (const auto& [word, command] : commands) {
        if (request.command != word) {
            continue;
        }
        if (const auto invalid = invalidOption(request.options)) {
            return reply(false, *invalid);
        }
        return (this->*command)(request.options);
    }
    return reply(false, "Unknown command “" + request.command + "”.");
}

LumenorResponse WakeController::commandStatus(const Options&) {
    // Listing first: it may find another holder of the lid, which the summary must already say.
    replyInhibitors_ = otherInhibitors();
    LumenorStatus status = snapshot();
    status.otherInhibitors = replyInhibitors_;
    return reply(true, status.summary(now_));
}

std::optional<std::vector<LumenorInhibitor>> WakeController::otherInhibitors() {
    const auto listed = power_->listInhibitors();
    if (!listed) {
        return std::nullopt;
    }
    // The same list says who else holds the lid; logind announces no change of it.
    noteLidHandler(PowerControl::lidHandledBy(*listed, static_cast<uint32_t>(::getpid())));
    std::vector<LumenorInhibitor> others;
    for (const auto& inhibitor : *listed) {
        // Ours, which the status describes itself: seen through a pid namespace the pid differs,
        // but this user runs one Lumenor.
        if (inhibitor.pid == static_cast<uint32_t>(::getpid()) ||
            (inhibitor.who == "Lumenor" && inhibitor.uid == ::getuid())) {
            continue;
        }
        others.push_back({.who = inhibitor.who,
                          .why = inhibitor.why,
                          .what = inhibitor.what,
                          .mode = inhibitor.mode,
                          .pid = static_cast<int32_t>(inhibitor.pid),
                          .uid = inhibitor.uid,
                          .user = PowerControl::userName(inhibitor.uid)});
    }
    return others;
}

LumenorResponse WakeController::commandInhibitors(const Options&) {
    replyInhibitors_ = otherInhibitors();
    if (!replyInhibitors_) {
        return reply(false, "Couldn't ask logind for its inhibitors (is the system bus running?).");
    }
    if (replyInhibitors_->empty()) {
        return reply(true, "No other program holds a logind inhibitor.");
    }
    std::string text;
    for (const auto& inhibitor : *replyInhibitors_) {
        text += (text.empty() ? "" : "\n") + inhibitor.who + " — " + inhibitor.why + " (" +
                inhibitor.mode + " " + inhibitor.what + ", pid " + std::to_string(inhibitor.pid) +
                ", uid " + std::to_string(inhibitor.uid) +
                (inhibitor.user.empty() ? "" : " " + inhibitor.user) + ")";
    }
    return reply(true, text);
}

std::string WakeController::holdsText() const {
    std::string text;
    for (const LumenorHold& hold : holdList()) {
        text += (text.empty() ? "" : "\n") + hold.id;
        if (!hold.label.empty()) {
            text += " (" + hold.label + ")";
        }
        text += hold.pid
                    ? ": while process " + std::to_string(*hold.pid) + " runs"
                    : ": " + DurationParser::formatRemaining(secondsBetween(now_, hold.until)) +
                          " left";
    }
    return text;
}

LumenorResponse WakeController::commandHolds(const Options&) {
    const std::string text = holdsText();
    return reply(true, text.empty() ? "No holds are keeping the computer awake." : text);
}

LumenorResponse WakeController::commandPing(const Options&) {
    return reply(true, "pong");
}

LumenorResponse WakeController::commandOn(const Options& options) {
    const auto kinds = std::count_if(sessionKindNames.begin(), sessionKindNames.end(),
                                     [&](const char* name) { return option(options, name); });
    if (kinds > 1) {
        return reply(false, "on takes one of --for, --until, --pid, --app, --file.");
    }
    if (const auto lid = flag("lid", options)) {
        setLidClosedMode(*lid);
    }
    if (const auto display = flag("display", options)) {
        setKeepDisplayOn(*display);
    }
    std::string failure;
    const auto kind = sessionKind(options, failure);
    if (!kind) {
        return reply(false, failure);
    }
    startSession(*kind);
    // The session stays even when nothing holds the machine: it is tried again with backoff.
    if (auto refused = keepAwakeRefusal()) {
        return *refused;
    }
    if (auto refused = settingsRefusal()) {
        return *refused;
    }
    const std::string title = session_ ? session_->title(clock_()) : std::string();
    return reply(true, "Keeping the " + LumenorWords::machine() + " awake — " + title + lidNote());
}

std::optional<SessionKind> WakeController::sessionKind(const Options& options,
                                                       std::string& failure) {
    if (const std::string* text = option(options, "for")) {
        if (const auto seconds = DurationParser::parse(*text)) {
            return SessionKind::until(addSeconds(clock_(), *seconds));
        }
        failure = "Couldn't understand duration “" + *text + "”. Try 30m, 2h, 1h30m.";
        return std::nullopt;
    }
    if (const std::string* text = option(options, "until")) {
        if (const auto at = DurationParser::parseClock(*text, clock_())) {
            return SessionKind::until(*at);
        }
        failure = "Couldn't understand time “" + *text + "”. Try 18:30 or 6pm.";
        return std::nullopt;
    }
    if (const std::string* text = option(options, "pid")) {
        const auto pid = decimal<int32_t>(*text);
        if (pid && ProcessTree::isAlive(*pid)) {
            const std::string* label = option(options, "label");
            return SessionKind::process(*pid, label != nullptr ? *label : std::string());
        }
        failure = "No running process with pid " + *text + ".";
        return std::nullopt;
    }
    if (const std::string* text = option(options, "app")) {
        for (const auto& app : workspace_->runningApplications()) {
            if (sameNameIgnoringCase(app.localizedName, *text) || app.desktopId == *text) {
                return SessionKind::app(app.pid, app.localizedName.value_or(*text));
            }
        }
        failure = "“" + *text + "” isn't running.";
        return std::nullopt;
    }
    if (const std::string* text = option(options, "file")) {
        std::error_code ignored;
        const auto path = std::filesystem::absolute(expandTilde(*text), ignored);
        if (!path.empty() && workspace_->fileExists(path)) {
            return SessionKind::file(path);
        }
        failure = "File not found: " + *text;
        return std::nullopt;
    }
    return SessionKind::indefinite();
}

LumenorResponse WakeController::commandOff(const Options&) {
    endSession("turned off via CLI");
    // Saying "normal settings" while a hold still keeps it up would be untrue.
    if (const std::string holds = holdsText(); !holds.empty()) {
        return reply(true, "Keep-awake session ended, but these holds still keep the " +
                               LumenorWords::machine() + " awake:\n" + holds +
                               "\nRelease them with `lumenor release ID`.");
    }
    return reply(true, "Keep-awake session ended. The " + LumenorWords::machine() +
                           " follows its normal sleep settings again.");
}

LumenorResponse WakeController::commandWake(const Options&) {
    wake();
    if (auto refused = keepAwakeRefusal()) {
        return *refused;
    }
    return reply(true, "☀️ " + LumenorWords::NamedMachine() + " is awake and will stay awake" +
                           lidNote());
}

LumenorResponse WakeController::commandRest(const Options&) {
    if (const auto problem = rest()) {
        return reply(false, "Couldn't turn the display off: " + *problem + ".");
    }
    if (auto refused = keepAwakeRefusal()) {
        return *refused;
    }
    return reply(true, "🖥️ Display off — the " + LumenorWords::machine() +
                           " stays awake and reachable" + lidNote());
}

LumenorResponse WakeController::commandSleep(const Options& options) {
    const bool force = flag("now", options).value_or(false);
    double delay = force ? 3 : sleepGrace_;
    if (const std::string* text = option(options, "in")) {
        if (const auto parsed = DurationParser::parse(*text)) {
            delay = *parsed;
        } else if (isZeroDelay(*text)) {
            delay = 0;
        } else {
            return reply(false, "Couldn't understand delay “" + *text + "”.");
        }
    }
    // A sleep that cannot happen here is refused now rather than failing later.
    if (const auto problem = power_->sleepProblem()) {
        const std::string text =
            "Couldn't put the " + LumenorWords::machine() + " to sleep: " + *problem + ".";
        log("⚠️ " + text, LogEvent::Kind::warning);
        return reply(false, text);
    }
    const std::string* pidText = option(options, "after_pid");
    const auto waitForPid = pidText != nullptr ? decimal<int32_t>(*pidText) : std::nullopt;
    const std::string* by = option(options, "by");
    const std::string requestedBy = by != nullptr ? *by : "CLI";

    setPendingSleep(
        PendingSleep{addSeconds(clock_(), std::max(0.0, delay)), waitForPid, force, requestedBy});
    log("Sleep requested by " + requestedBy);
    update();
    return reply(true, sleepAnnouncement(waitForPid, force, delay, requestedBy));
}

std::string WakeController::sleepAnnouncement(std::optional<int32_t> waitForPid, bool force,
                                              double delay, std::string requestedBy) const {
    // "Copilot CLI" asks for "the current Copilot task", "Codex" for "the current Codex task";
    // a plain command line for "the current task".
    if (requestedBy.ends_with("CLI")) {
        requestedBy.erase(requestedBy.size() - 3);
    }
    const std::string taskOwner =
        requestedBy.empty() || requestedBy.back() == ' ' ? requestedBy : requestedBy + " ";
    std::string text = "😴 The " + LumenorWords::machine() + " will sleep";
    const auto holds = activeHolds();
    if (waitForPid && ProcessTree::isAlive(*waitForPid)) {
        text += " once the current " + taskOwner + "task (pid " + std::to_string(*waitForPid) +
                ") has finished and replied";
    } else if (!force && !holds.empty()) {
        text += " after running tasks finish";
    } else {
        text += " in " + DurationParser::formatSpoken(delay);
    }
    if (remoteWakeEnabled() && wakeHelperReady_) {
        text += ". It will wake every " + std::to_string(remoteWakeInterval()) + " min for about " +
                std::to_string(remoteWindowMinutes) +
                " min, so that remote tools (SSH, a chat bot, an agent) can reach it and keep it "
                "awake with `lumenor wake`.";
    } else {
        text += ". Remote tools can't reach it until someone wakes it.";
    }
    return text + " Cancel with `lumenor cancel-sleep`.";
}

LumenorResponse WakeController::commandCancelSleep(const Options&) {
    const bool wasPending = pendingSleep_.has_value();
    cancelSleep(false);
    return reply(true, wasPending ? "Sleep cancelled." : "No sleep was pending.");
}

LumenorResponse WakeController::commandSetup(const Options&) {
    if (wakeHelperReady_) {
        return reply(true, "Scheduled wake is already set up.");
    }
    if (const auto blocker = runSetup()) {
        return reply(false, *blocker);
    }
    return reply(true, "Approve the administrator prompt on the " + LumenorWords::machine() +
                           " to finish setup.");
}

LumenorResponse WakeController::commandUninstallHelper(const Options&) {
    runUninstall();
    return reply(true, "Approve the administrator prompt to remove the helper.");
}

LumenorResponse WakeController::commandHold(const Options& options) {
    const std::string* id = option(options, "id");
    if (id == nullptr || id->empty()) {
        return reply(false, "hold needs an id");
    }
    if (*id == reservedHoldId) {
        return reply(false, "The hold id “" + *id + "” is reserved for Lumenor; choose another.");
    }
    if (activeHolds().size() >= maximumHolds && !activeHolds().contains(*id)) {
        return reply(false, "Lumenor keeps at most " + std::to_string(maximumHolds) +
                                " holds; release one first (`lumenor holds` lists them).");
    }
    Hold details;
    details.id = *id;
    if (const std::string* label = option(options, "label")) {
        details.label = *label;
    }
    details.display = flag("display", options).value_or(false);
    if (const std::string* text = option(options, "pid")) {
        details.pid = decimal<int32_t>(*text);
        if (!details.pid || !ProcessTree::isAlive(*details.pid)) {
            return reply(false, "No running process with pid " + *text + ".");
        }
    }
    // A hold tied to a process lasts as long as it runs, unless a duration says otherwise.
    double seconds = details.pid ? processHoldSeconds : 3600;
    if (const std::string* text = option(options, "for")) {
        const auto parsed = DurationParser::parse(*text);
        if (!parsed) {
            return reply(false, "Couldn't understand duration “" + *text + "”.");
        }
        seconds = *parsed;
    }
    if (flag("require_held", options).value_or(false)) {
        if (auto refused = holdAwakeFirst()) {
            return *refused;
        }
    }
    const std::optional<int32_t> pid = details.pid;
    hold(std::move(details), seconds);
    if (auto refused = keepAwakeRefusal()) {
        return *refused;
    }
    if (pid && !option(options, "for")) {
        return reply(true,
                     "Holding awake while process " + std::to_string(*pid) + " runs (" + *id + ")");
    }
    return reply(true,
                 "Holding awake for " + DurationParser::formatSpoken(seconds) + " (" + *id + ")");
}

LumenorResponse WakeController::commandRelease(const Options& options) {
    const std::string* id = option(options, "id");
    if (id == nullptr) {
        return reply(false, "release needs an id");
    }
    if (!activeHolds().contains(*id)) {
        const std::string holds = holdsText();
        return reply(false,
                     "No hold “" + *id + "”. " +
                         (holds.empty() ? "No holds are active." : "Active holds:\n" + holds));
    }
    release(*id);
    return reply(true, "Released " + *id);
}

LumenorResponse WakeController::commandSet(const Options& options) {
    using LumenorSettings::all;
    const auto given = [&](const LumenorSettings::Setting& setting) {
        return option(options, std::string(setting.option));
    };
    if (std::none_of(all.begin(), all.end(), given)) {
        std::string names;
        for (std::size_t i = 0; i < all.size(); ++i) {
            std::string name(all[i].option);
            std::replace(name.begin(), name.end(), '_', '-');
            names += (i == 0 ? "--" : i + 1 == all.size() ? " or --" : ", --") + name;
        }
        return reply(false, "set needs a setting to change: " + names + ".");
    }
    std::string notes;
    for (const auto& setting : all) {
        const std::string* text = given(setting);
        if (text == nullptr) {
            continue;
        }
        if (setting.isBoolean) {
            setSetting(setting.id, flag(std::string(setting.option), options).value_or(false));
        } else if (const auto asked = decimal<long long>(*text)) {
            setSetting(setting.id, LumenorSettings::clamped(setting, *asked));
            notes += clampNote(std::string(setting.label), *asked, this->setting(setting.id),
                               std::string(setting.unit));
        }
    }
    if (auto refused = settingsRefusal()) {
        return *refused;
    }
    return reply(true, "Settings updated.\n" + notes + snapshot().summary(now_));
}

std::string WakeController::lidNote() const {
    if (!hasLid_) {
        return ".";
    }
    if (!lidClosedMode()) {
        return " (lid-closed mode is off — closing the lid will sleep it).";
    }
    if (lidHandledBy_) {
        return ". ⚠️ " + *lidHandledBy_ +
               " handles the lid itself, so its own lid setting decides what closing the lid does.";
    }
    if (!lidAvailable_) {
        return ". ⚠️ Lid-closed mode is unavailable: the system won't let Lumenor hold the "
               "lid.";
    }
    if (batteryTooLow()) {
        return ". ⚠️ Battery is low, so closing the lid will sleep it.";
    }
    if (!lidModeActive_) {
        return ". ⚠️ Lid-closed mode doesn't hold the lid yet, so closing the lid would sleep "
               "it.";
    }
    return ", even with the lid closed.";
}
