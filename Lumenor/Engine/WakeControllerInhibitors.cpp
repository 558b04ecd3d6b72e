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

std::string displayFailure(const std::string& why) {
    return "Couldn't keep the display on: " +
           (why.empty() ? std::string("nothing on this desktop can keep it lit") : why) + ".";
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
    // A grant no mechanism holds any longer (refused after the take) keeps nothing awake.
    return isAwake() && !systemAssertion_->heldBy().empty();
}

std::optional<std::string> WakeController::problem() const {
    return keepAwakeProblem_ ? keepAwakeProblem_
           : displayProblem_ ? displayProblem_
                             : settingsProblem_;
}

bool WakeController::dropWithdrawn(PowerControl::Assertion& assertion) {
    if (assertion.id() == 0 || !assertion.heldBy().empty()) {
        return false;
    }
    assertion.set(false);
    return true;
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

void WakeController::noteInhibitors(bool wanted, bool wantsDisplay) {
    // Releasing is told by the end of the session; only a new set of mechanisms is news.
    const auto held = inhibitorsHeld();
    if (!held.empty() && held != loggedInhibitors_) {
        loggedInhibitors_ = held;
        log("Keeping awake with " + joined(held));
    }
    // Until the portal has answered a retake, the problem its last refusal gave still stands.
    const auto unheld = [this](bool want, const PowerControl::Assertion& assertion,
                               const std::optional<std::string>& current,
                               std::string (*failure)(const std::string&)) {
        std::optional<std::string> problem;
        if (want && inhibitorLookAt_ && current) {
            problem = current;
        } else if (want && assertion.heldBy().empty()) {
            problem = failure(assertion.failure());
        }
        return problem;
    };
    const auto note = [this](std::optional<std::string>& field,
                             const std::optional<std::string>& problem) {
        if (problem != field) {
            publish(field, problem);
            if (problem) {
                log("⚠️ " + *problem, LogEvent::Kind::warning);
            }
        }
    };
    note(keepAwakeProblem_, unheld(wanted, *systemAssertion_, keepAwakeProblem_, keepAwakeFailure));
    note(displayProblem_,
         unheld(wantsDisplay, *displayAssertion_, displayProblem_, displayFailure));
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
