#include "Support/EngineHarness.h"
#include "Support/WakeControllerProbe.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <unistd.h>

const std::string changeFailed = "⚠️ Lid-closed mode change failed (will retry): ";

// A running session; the lid is taken once the system is known to grant it.
class WakeControllerLid : public ::testing::Test {
protected:
    void SetUp() override { h->startSession(SessionKind::indefinite()); }
    void after(double seconds) {
        h.tickAfter(seconds);
        h.settle();
    }
    long calls(const std::string& operation) const { return h.power->count(operation); }

    EngineHarness h;
};

TEST_F(WakeControllerLid, FollowsWhatKeepsTheMachineAwakeAndRenewsTheLease) {
    EXPECT_TRUE(h.power->operations().empty()) << "not before the lid is known to be available";
    h.readyHelper();
    EXPECT_EQ(h.power->operations(), Words{"takeLid"});
    EXPECT_TRUE(h->lidModeActive());

    after(59);
    EXPECT_EQ(calls("renewLid"), 0);
    after(1);
    after(1); // one renewal per interval
    EXPECT_EQ(calls("renewLid"), 1);
    EXPECT_EQ(h->nextDeadline(), h.clock.now() + std::chrono::seconds(59));

    // A lost lease ends the mode, says why and tries again later.
    h.power->standingResults["renewLid"] = PowerResult::failed("the lease ran out");
    after(59);
    EXPECT_FALSE(h->lidModeActive());
    EXPECT_EQ(h.lastEvent(), "⚠️ Lid-closed mode ended: the lid could not be held any longer "
                             "(the lease ran out)");
    after(29);
    EXPECT_EQ(calls("takeLid"), 1) << "it waits 30 s";
    after(1);
    EXPECT_EQ(calls("takeLid"), 2);
    EXPECT_TRUE(h->lidModeActive());

    h->endSession("done");
    h.settle();
    EXPECT_EQ(h.power->operations().back(), "releaseLid");
    EXPECT_FALSE(h->lidModeActive());
    EXPECT_EQ(h->nextDeadline(), std::nullopt) << "nothing left to renew";
}

TEST_F(WakeControllerLid, FailedChangesBackOffAndRepeatedFailuresAreLoggedOnce) {
    h.power->queuedResults["takeLid"] = {PowerResult::refused("battery below 10%"),
                                         PowerResult::refused("battery below 10%"),
                                         PowerResult::failed("Access denied")};
    h.readyHelper();
    after(59);
    EXPECT_EQ(calls("takeLid"), 1) << "a refusal waits 60 s";
    after(1);
    EXPECT_EQ(calls("takeLid"), 2);
    EXPECT_EQ(std::ranges::count(h.logMessages(), changeFailed + "battery below 10%"), 1);

    after(60);
    EXPECT_EQ(h.lastEvent(), changeFailed + "Access denied");
    after(9);
    EXPECT_EQ(calls("takeLid"), 3) << "a failure waits 10 s";
    after(1);
    EXPECT_EQ(calls("takeLid"), 4);
    EXPECT_TRUE(h->lidModeActive());

    // Nothing starts while a sleep attempt runs.
    WakeControllerProbe(h.controller()).setSleeping(true);
    h.tickAfter(60);   // a renewal is due
    h->endSession(""); // and the mode is no longer wanted
    h.tickAfter(1);
    EXPECT_TRUE(h.privileged->tasks.empty());
}

TEST_F(WakeControllerLid, SetupRunsBehindOnePromptOrSaysWhyItCannotStart) {
    h.power->setupBlocked = "pkexec is not installed.";
    auto response = h->handle({"setup", {}});
    EXPECT_EQ(std::pair(response.ok, response.message), std::pair(false, *h.power->setupBlocked));
    EXPECT_EQ(h->lastEvent(),
              (LogEvent{LogEvent::Kind::setup, "Setup failed: pkexec is not installed."}));
    EXPECT_EQ(h.background->runAll(), 0u) << "no prompt";
    h.power->setupBlocked.reset();

    // Each outcome of the prompt, in turn, is the caller's answer.
    const auto setUp = [this] {
        std::optional<LumenorResponse> answer;
        h->handle({"setup", {}}, [&](LumenorResponse response) { answer = std::move(response); });
        EXPECT_FALSE(answer) << "not before the prompt has an outcome";
        EXPECT_EQ(h.lastEvent(), WakeController::setupExplanation);
        EXPECT_EQ(h.background->runAll(), 1u);
        h.settle();
        EXPECT_FALSE(h->setupInProgress());
        return std::tuple(*h.lastEvent(), answer.value().ok, answer.value().message);
    };
    h.power->setupError = "Setup was cancelled.";
    EXPECT_EQ(setUp(), std::tuple("Setup failed: Setup was cancelled.", false,
                                  "Setup was cancelled. To set it up without the prompt: lumenor "
                                  "setup --print-script | sudo sh"));
    h.power->setupError.reset();
    h.power->setHelperInstalled(true);
    h.power->setHelperWorks(true);
    EXPECT_EQ(setUp(), std::tuple("Scheduled wake is ready", true, "Scheduled wake is ready."));
    EXPECT_TRUE(h->lidModeActive());
    EXPECT_EQ(h->handle({"setup", {}}).message, "Scheduled wake is already set up.");

    // Removing the wake helper leaves the lid alone.
    h->runUninstall();
    EXPECT_FALSE(h->wakeHelperReady());
    h.power->setHelperWorks(false);
    h.power->setLidAvailable(true);
    h.background->runAll();
    h.settle();
    EXPECT_EQ(std::pair(calls("uninstallHelper"), calls("releaseLid")), std::pair(1L, 0L));
}

// The lid is the app's own logind inhibitor: no helper needed, and maybe another holder.
TEST(WakeControllerOwnLid, NeedsNoHelperAndNamesAnotherHolder) {
    EngineHarness h;
    h.power->setLidAvailable(true);
    const auto own = static_cast<uint32_t>(getpid());
    h.power->inhibitors = std::vector<PowerControl::Inhibitor>{
        // Ours, with the pid logind sees from outside a pid namespace.
        {"sleep:idle:handle-lid-switch", "Lumenor", "Lid-closed mode", "block", 1000, own + 7},
        {"handle-lid-switch", "Power Manager", "lid", "block", 1000, own + 1}};
    h->refreshHelper();
    h->startSession(SessionKind::indefinite());
    h.settle();
    EXPECT_TRUE(h->lidModeActive());
    EXPECT_FALSE(h->wakeHelperReady());
    EXPECT_EQ(h->snapshot().lidHandledBy, "Power Manager");
    const std::string note = "Power Manager handles the lid itself, so its own lid setting "
                             "decides what closing the lid does";
    EXPECT_EQ(h.lastEvent(), "⚠️ " + note);
    EXPECT_EQ(h->handle({"on", {}}).message,
              "Keeping the computer awake — Indefinitely. ⚠️ " + note + ".");
    h->setMinimumBattery(25);
    EXPECT_EQ(h.power->lidBatteryFloor, 25) << "taking the lid is refused at the floor";

    // Without the wake helper a sleep arms nothing, but still gives the lid back first.
    h->setRemoteWakeEnabled(true);
    h->requestSleepFromMenu();
    h.tickAfter(2);
    h.settle();
    EXPECT_EQ(h.power->operations(), (Words{"takeLid", "releaseLid"}));
    EXPECT_FALSE(h->remoteCycleArmed());

    // Asking for the status asks logind again, so a holder that left is seen at once.
    h.power->inhibitors->pop_back();
    h->handle({"status", {}});
    EXPECT_FALSE(h->lidHandledBy());
}

// A desktop: lid-closed mode is not taken, not spoken of, and its setting waits for a lid.
TEST(WakeControllerNoLid, NeitherTakenNorSpokenOfAndTheSettingIsKept) {
    EngineHarness h;
    h.power->setLidAvailable(true);
    h.power->setHasLid(false);
    h->refreshHelper();
    h.settle();
    EXPECT_EQ(h->handle({"on", {}}).message, "Keeping the computer awake — Indefinitely.");
    h.settle();
    EXPECT_EQ(h.power->count("takeLid"), 0);
    EXPECT_TRUE(h->lidClosedMode());
    EXPECT_FALSE(h->snapshot().lidClosedMode);
    EXPECT_EQ(h->snapshot().summary(h->now()).find("id-closed"), std::string::npos);
}
