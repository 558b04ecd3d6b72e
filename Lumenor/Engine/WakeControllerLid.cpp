#include "Lumenor/Engine/InstantMath.h"
#include "Lumenor/Engine/WakeController.h"

#include "Lumenor/Platform/LidInhibitor.h"

#include <exception>
#include <unistd.h>
#include <utility>

namespace {

constexpr double backOffAfterFailedRenewal = 30;
constexpr double backOffWhenRefused = 60;
constexpr double backOffAfterFailure = 10;

// Runs an administrator operation: why it failed, in words for the log; none when it worked.
template <class Work> std::optional<std::string> failureOf(Work&& work) {
    try {
        work();
        return std::nullopt;
    } catch (const std::exception& error) {
        return std::string(error.what());
    } catch (...) {
        return std::string("unexpected error");
    }
}

} // namespace

bool WakeController::lidWanted() const {
    return isAwake() && lidClosedMode() && hasLid_ && lidAvailable_ && !batteryTooLow();
}

void WakeController::reconcileLid() {
    if (sleeping_) {
        return;
    }
    const bool wanted = lidWanted();
    if (wanted && lidModeActive_ && !lidOpInFlight_ &&
        secondsBetween(lastLeaseRenewal_, now_) >= lidRenewEvery) {
        lastLeaseRenewal_ = now_;
        renewLease();
    }
    if (lidOpInFlight_ || wanted == lidModeActive_ || now_ < lidRetryAfter_) {
        return;
    }
    lidOpInFlight_ = true;
    if (wanted) {
        checkLidHandler(); // whoever else holds the lid decides what closing it does
    }
    changeLidMode(wanted);
}

// On the main thread: renewing only moves the lease's end (and reads the battery), and one
// thread woken per renewal is what keeps a held lid cheap.
void WakeController::renewLease() {
    if (const PowerResult result = power_->renewLid(); !result.ok()) {
        renewalFailed(result.reason);
    }
}

void WakeController::renewalFailed(const std::string& why) {
    // A lid change in flight settles the state itself; a mode already off has nothing to lose.
    if (lidOpInFlight_ || !lidModeActive_) {
        return;
    }
    now_ = clock_();
    publish(lidModeActive_, false);
    lidRetryAfter_ = addSeconds(now_, backOffAfterFailedRenewal);
    log("⚠️ Lid-closed mode ended: the lid could not be held any longer" +
            (why.empty() ? std::string() : " (" + why + ")"),
        LogEvent::Kind::warning);
    syncWaits();
}

void WakeController::changeLidMode(bool on) {
    auto change = std::make_shared<LidChange>(LidChange{on, {}});
    const auto work = [power = power_, change] {
        if (change->on) {
            change->result = power->takeLid();
        } else {
            power->releaseLid();
        }
    };
    if (lidChangesNow_) {
        work();
        lidChangeFinished(*change);
        return;
    }
    lidChange_ = change;
    privileged_->post([work, change, hop = mainHop()] {
        work();
        hop.post([change](WakeController& controller) { controller.lidChangeFinished(*change); });
    });
}

// A reply must not describe the lid before a change already under way reaches logind.
void WakeController::settleLidChange() {
    if (const auto change = lidChange_) {
        privileged_->drain();
        lidChangeFinished(*change);
    }
}

void WakeController::lidChangeFinished(LidChange& change) {
    if (std::exchange(change.settled, true)) {
        return; // a request settled it before its hop arrived
    }
    lidChange_.reset();
    lidOpInFlight_ = false;
    now_ = clock_();
    const bool on = change.on;
    const PowerResult& result = change.result;
    if (result.ok()) {
        publish(lidModeActive_, on);
        lidRetryAfter_ = distantPast;
        if (on) {
            lastLeaseRenewal_ = now_; // taking the lid starts a fresh lease
        }
    } else {
        lidRetryAfter_ =
            addSeconds(now_, result.outcome == PowerResult::Outcome::refused ? backOffWhenRefused
                                                                             : backOffAfterFailure);
        const std::string message =
            "⚠️ Lid-closed mode change failed (will retry): " + result.reason;
        if (!lastEvent_ || lastEvent_->text != message) {
            log(message, LogEvent::Kind::warning);
        }
    }
    reconcileLid();
    syncWaits();
}

void WakeController::refreshHelper() {
    privileged_->post([power = power_, hop = mainHop()] {
        const bool hasLid = power->hasLid();
        const bool lidWorks = hasLid && power->lidAvailable();
        const bool wakeWorks = power->wakeHelperWorks();
        hop.post([hasLid, lidWorks, wakeWorks](WakeController& controller) {
            controller.publish(controller.hasLid_, hasLid);
            controller.publish(controller.lidAvailable_, lidWorks);
            controller.publish(controller.wakeHelperReady_, wakeWorks);
            controller.now_ = controller.clock_();
            controller.applyPowerState();
            controller.syncWaits();
        });
    });
    checkLidHandler();
}

void WakeController::checkLidHandler() {
    privileged_->post([power = power_, hop = mainHop()] {
        const auto inhibitors = power->listInhibitors();
        if (!inhibitors) {
            return; // without logind nobody handles the lid through it
        }
        auto who = PowerControl::lidHandledBy(*inhibitors, static_cast<uint32_t>(::getpid()));
        hop.post(
            [who = std::move(who)](WakeController& controller) { controller.noteLidHandler(who); });
    });
}

void WakeController::noteLidHandler(std::optional<std::string> who) {
    if (who == lidHandledBy_) {
        return;
    }
    publish(lidHandledBy_, who);
    if (who) {
        log("⚠️ " + *who +
                " handles the lid itself, so its own lid setting decides what closing the lid does",
            LogEvent::Kind::warning);
    }
}

std::optional<std::string> WakeController::runSetup() {
    if (setupInProgress_) {
        return std::nullopt;
    }
    if (auto blocker = power_->setupBlocker()) {
        log("Setup failed: " + *blocker, LogEvent::Kind::setup);
        return blocker;
    }
    publish(setupInProgress_, true);
    log(setupExplanation);
    background_->post([power = power_, hop = mainHop()] {
        // Installed is not yet working: a sudoers rule the system ignores would leave it dead.
        const auto install = [&] {
            power->installHelper();
            if (!power->wakeHelperWorks()) {
                throw PowerControl::SetupError::failed(
                    "the helper was installed, but sudo -n doesn't run it");
            }
        };
        const auto failure = failureOf(install);
        hop.post([failure](WakeController& controller) {
            controller.publish(controller.setupInProgress_, false);
            if (failure) {
                controller.log("Setup failed: " + *failure, LogEvent::Kind::setup);
            } else {
                controller.log("Scheduled wake is ready");
            }
            controller.refreshHelper();
            controller.answerSetup(failure);
        });
    });
    return std::nullopt;
}

void WakeController::handle(const LumenorRequest& request,
                            std::function<void(LumenorResponse)> reply) {
    LumenorResponse response = handle(request);
    if (request.command == "setup" && response.ok && setupInProgress_) {
        setupReplies_.push_back(std::move(reply));
        return;
    }
    reply(std::move(response));
}

void WakeController::answerSetup(const std::optional<std::string>& failure) {
    LumenorResponse response{.ok = !failure, .message = "Scheduled wake is ready."};
    if (failure) {
        const bool saysHow = failure->find("--print-script") != std::string::npos;
        response.message = *failure + (saysHow ? ""
                                               : " To set it up without the prompt: lumenor "
                                                 "setup --print-script | sudo sh");
    }
    response.status = snapshot();
    for (auto& reply : std::exchange(setupReplies_, {})) {
        reply(response);
    }
}

void WakeController::runUninstall() {
    publish(wakeHelperReady_, false);
    disarmRemoteCycle();
    background_->post([power = power_, hop = mainHop()] {
        const auto failure = failureOf([&] { power->uninstallHelper(); });
        hop.post([failure](WakeController& controller) {
            controller.log(failure.value_or("Helper removed"),
                           failure ? LogEvent::Kind::warning : LogEvent::Kind::routine);
            controller.refreshHelper();
        });
    });
}
