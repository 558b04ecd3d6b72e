#include "Lumenor/Engine/InstantMath.h"
#include "Lumenor/Engine/WakeController.h"

#include "Lumenor/Platform/LidInhibitor.h"

#include <exception>
#include <unistd.h>

namespace {

// The helper's lease lasts 120 s; renewing every 25 s leaves room for four tries.
constexpr double renewEvery = 25;
constexpr double backOffAfterFailedRenewal = 30;
constexpr double backOffWhenRefused = 60;
constexpr double backOffAfterFailure = 10;
// The helper's exit status for "refused": maintenance under way or the battery too low.
constexpr int helperRefused = 3;

// Runs an administrator operation and words its outcome for the log.
template <class Work>
std::string outcomeOf(Work&& work, const std::string& success, const std::string& failurePrefix) {
    try {
        work();
        return success;
    } catch (const std::exception& error) {
        return failurePrefix + error.what();
    } catch (...) {
        return failurePrefix + "unexpected error";
    }
}

} // namespace

void WakeController::reconcileLid() {
    if (sleeping_) {
        return;
    }
    const bool wanted = isAwake() && lidClosedMode_ && helperReady_ && !batteryTooLow();
    if (wanted && lidModeActive_ && !lidOpInFlight_ &&
        secondsBetween(lastLeaseRenewal_, now_) > renewEvery) {
        lastLeaseRenewal_ = now_;
        renewLease();
    }
    if (lidOpInFlight_ || wanted == lidModeActive_ || now_ < lidRetryAfter_) {
        return;
    }
    if (!wanted && !power_->helperAnswers("lid-off")) {
        publish(lidModeActive_, false); // no helper is left to ask
        return;
    }
    lidOpInFlight_ = true;
    changeLidMode(wanted);
}

void WakeController::renewLease() {
    privileged_->post([power = power_, hop = mainHop()] {
        if (power->helper({"renew"}).code != 0) {
            hop.post([](WakeController& controller) { controller.renewalFailed(); });
        }
    });
}

void WakeController::renewalFailed() {
    // A lid change in flight settles the state itself; a mode already off has nothing to lose.
    if (lidOpInFlight_ || !lidModeActive_) {
        return;
    }
    publish(lidModeActive_, false);
    lidRetryAfter_ = addSeconds(now_, backOffAfterFailedRenewal);
    log("Lid-closed mode was turned off by the safety guard");
}

void WakeController::changeLidMode(bool on) {
    privileged_->post([power = power_, hop = mainHop(), on] {
        const auto result = power->helper({on ? "lid-on" : "lid-off"});
        hop.post(
            [on, result](WakeController& controller) { controller.lidChangeFinished(on, result); });
    });
}

void WakeController::lidChangeFinished(bool on, const PowerControl::RunResult& result) {
    lidOpInFlight_ = false;
    if (result.code == 0) {
        publish(lidModeActive_, on);
        lidRetryAfter_ = distantPast;
        if (on) {
            lastLeaseRenewal_ = now_; // lid-on wrote a fresh lease
        }
    } else {
        lidRetryAfter_ = addSeconds(now_, result.code == helperRefused ? backOffWhenRefused
                                                                       : backOffAfterFailure);
        const std::string message =
            "⚠️ Lid-closed mode change failed (will retry): " + result.output;
        if (lastEvent_ != message) {
            log(message);
        }
    }
    reconcileLid();
}

void WakeController::refreshHelper() {
    privileged_->post([power = power_, hop = mainHop()] {
        const bool lidWorks = power->lidModeWorks();
        const bool wakeWorks = power->helperWorks();
        hop.post([lidWorks, wakeWorks](WakeController& controller) {
            controller.publish(controller.helperReady_, lidWorks);
            controller.publish(controller.wakeHelperReady_, wakeWorks);
            controller.applyPowerState();
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
            " handles the lid itself, so its own lid setting decides what closing the lid does");
    }
}

std::optional<std::string> WakeController::runSetup() {
    if (setupInProgress_) {
        return std::nullopt;
    }
    if (auto blocker = power_->setupBlocker()) {
        log("Setup failed: " + *blocker);
        return blocker;
    }
    publish(setupInProgress_, true);
    log(setupExplanation);
    background_->post([power = power_, hop = mainHop()] {
        // Installed is not yet working: a sudoers rule the system ignores would leave it dead.
        const auto install = [&] {
            power->installHelper();
            if (!power->helperWorks()) {
                throw PowerControl::SetupError::failed(
                    "the helper was installed, but sudo -n doesn't run it");
            }
        };
        const std::string message = outcomeOf(install, "Scheduled wake is ready", "Setup failed: ");
        hop.post([message](WakeController& controller) {
            controller.publish(controller.setupInProgress_, false);
            controller.log(message);
            controller.refreshHelper();
        });
    });
    return std::nullopt;
}

void WakeController::runUninstall() {
    publish(wakeHelperReady_, false);
    disarmRemoteCycle();
    background_->post([power = power_, hop = mainHop()] {
        const std::string message =
            outcomeOf([&] { power->uninstallHelper(); }, "Helper removed", "");
        hop.post([message](WakeController& controller) {
            controller.log(message);
            controller.refreshHelper();
        });
    });
}
