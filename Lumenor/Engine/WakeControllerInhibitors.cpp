#include "Lumenor/Engine/WakeController.h"

#include "LumenorCore/LumenorWords.h"

#include <algorithm>
#include <array>

namespace {

// The order the status lists them in, whichever assertion holds them.
constexpr std::array<std::string_view, 4> mechanismOrder{"logind", "portal", "power-manager",
                                                         "screensaver"};

std::size_t rank(const std::string& name) {
    return static_cast<std::size_t>(std::find(mechanismOrder.begin(), mechanismOrder.end(), name) -
                                    mechanismOrder.begin());
}

std::string joined(const std::vector<std::string>& names) {
    std::string text;
    for (const auto& name : names) {
        text += (text.empty() ? "" : ", ") + name;
    }
    return text;
}

/// What to do when the computer cannot be held awake for `problem`.
std::string wayOut(const std::string& problem) {
    if (problem.find(PowerControl::authorizationRefused) != std::string::npos) {
        return "polkit allows it in an active local session, while polkitd runs, or to root.";
    }
    return "run it in a desktop session with systemd-logind, or where a desktop portal or power "
           "manager runs.";
}

std::string keepAwakeFailure(const std::string& why) {
    return "Couldn't keep the " + LumenorWords::machine() +
           " awake: " + (why.empty() ? "nothing on this system can hold it awake" : why) + ".";
}

/// A refusal naming `problem` and what to do about it; none without a problem.
std::optional<LumenorResponse> refusal(const std::optional<std::string>& problem,
                                       std::string_view advice) {
    if (!problem) {
        return std::nullopt;
    }
    return LumenorResponse{.ok = false, .message = *problem + std::string(advice)};
}

} // namespace

bool WakeController::keptAwake() const {
    return isAwake() && systemAssertion_->id() != 0;
}

std::optional<std::string> WakeController::problem() const {
    return keepAwakeProblem_ ? keepAwakeProblem_ : settingsProblem_;
}

std::vector<std::string> WakeController::inhibitorsHeld() const {
    std::vector<std::string> names = systemAssertion_->heldBy();
    for (auto& name : displayAssertion_->heldBy()) {
        if (std::find(names.begin(), names.end(), name) == names.end()) {
            names.push_back(std::move(name));
        }
    }
    std::stable_sort(names.begin(), names.end(),
                     [](const auto& a, const auto& b) { return rank(a) < rank(b); });
    return names;
}

void WakeController::noteInhibitors(bool wanted) {
    // Releasing is told by the end of the session; only a new set of mechanisms is news.
    const auto held = inhibitorsHeld();
    if (!held.empty() && held != loggedInhibitors_) {
        loggedInhibitors_ = held;
        log("Keeping awake with " + joined(held));
    }
    std::optional<std::string> problem;
    if (wanted && systemAssertion_->id() == 0) {
        problem = keepAwakeFailure(systemAssertion_->failure());
    }
    if (problem != keepAwakeProblem_) {
        publish(keepAwakeProblem_, problem);
        if (problem) {
            log("⚠️ " + *problem, LogEvent::Kind::warning);
        }
    }
}

std::optional<LumenorResponse> WakeController::keepAwakeRefusal() const {
    return refusal(keepAwakeProblem_, " Lumenor keeps the request and tries again, at once when "
                                      "logind, polkit, a portal or your session changes; " +
                                          wayOut(keepAwakeProblem_.value_or("")));
}

std::string WakeController::awakeReason() const {
    std::string reason;
    const auto add = [&](const std::string& part) {
        reason += (reason.empty() ? "" : "; ") + part;
    };
    if (session_) {
        add("Lumenor keep-awake session: " + session_->title(now_));
    }
    for (const auto& [id, hold] : activeHolds()) {
        const std::string name = hold.label.empty() ? id : hold.label;
        add((id.starts_with("run-") ? "lumenor run: " : "Lumenor hold: ") + name);
    }
    return reason.empty() ? "Lumenor keep-awake session" : reason;
}

std::optional<LumenorResponse> WakeController::holdAwakeFirst() {
    if (keptAwake()) {
        return std::nullopt;
    }
    systemAssertion_->setReason(awakeReason());
    systemAssertion_->set(true);
    if (systemAssertion_->id() != 0) {
        return std::nullopt; // the hold about to be taken keeps it
    }
    const std::string problem = keepAwakeFailure(systemAssertion_->failure());
    log("⚠️ " + problem + " Nothing was run.", LogEvent::Kind::warning);
    return refusal(problem, " Nothing was run; " + wayOut(problem));
}

std::optional<LumenorResponse> WakeController::settingsRefusal() const {
    return refusal(
        settingsProblem_,
        " The new values hold until Lumenor quits; make the file writable to keep them.");
}
