// What the controller does when the system says no: it tells the caller, keeps the request,
// tries again, and says so once in the log.
#include "Support/EngineHarness.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

const std::string noLogind =
    "Couldn't keep the computer awake: no login manager (logind) on the system bus.";

TEST(WakeControllerProblems, NothingHeldIsRefusedKeptRetriedAndLoggedOnce) {
    const std::vector<LumenorRequest> requests{
        {"on", {{"for", "1h"}}}, {"hold", {{"id", "task"}}}, {"wake", {}}};
    for (const LumenorRequest& request : requests) {
        EngineHarness h;
        h.power->refusedAssertions = {systemAssertionType};
        const LumenorResponse response = h->handle(request);
        EXPECT_FALSE(response.ok) << request.command;
        EXPECT_TRUE(response.message.starts_with(noLogind + " ")) << response.message;
        EXPECT_TRUE(h->isAwake()) << "the request is kept";
        EXPECT_FALSE(response.status->awake);
        EXPECT_EQ(response.status->problem, noLogind);
        EXPECT_EQ(response.status->inhibitorsHeld, std::nullopt);
        h.tickAfter(10); // three retries
        EXPECT_EQ(std::ranges::count(h.logMessages(), "⚠️ " + noLogind), 1) << request.command;
        EXPECT_EQ(h->statusLine(), noLogind);
    }
}

TEST(WakeControllerProblems, AnUnlitDisplayAndAGrantTakenBackAreProblemsNotHolds) {
    EngineHarness h;
    h.power->refusedAssertions = {displayAssertionType};
    h.power->refusal = "no screen saver service on the session bus";
    h->handle({"set", {{"display", "on"}}});
    EXPECT_EQ(h->snapshot().problem, std::nullopt) << "not wanted outside a session";
    h->handle({"on", {}});
    const std::string unlit = "Couldn't keep the display on: " + h.power->refusal + ".";
    EXPECT_EQ(h->snapshot().problem, unlit);
    EXPECT_EQ(h.logMessages().back(), "⚠️ " + unlit);

    h.power->withdrawnAssertions = {systemAssertionType};
    h->update();
    EXPECT_FALSE(h->snapshot().awake);
    EXPECT_EQ(h->snapshot().problem,
              "Couldn't keep the computer awake: nothing on this system can hold it awake.");
    EXPECT_EQ(h.power->count("assert system off"), 1) << "given back, to be taken afresh";
}

TEST(WakeControllerProblems, DisplayOffSleepSettingsAndLogFailuresSayWhyAndTheAppGoesOn) {
    EngineHarness h;
    h.power->displaySleepProblemResult = "there is no X display (DISPLAY is not set)";
    LumenorResponse response = h->handle({"rest", {}});
    EXPECT_FALSE(response.ok);
    EXPECT_EQ(response.message,
              "Couldn't turn the display off: there is no X display (DISPLAY is not set).");
    EXPECT_FALSE(h->session());
    EXPECT_EQ(h.logMessages().back(),
              "⚠️ Couldn't turn the display off: there is no X display (DISPLAY is not set)");

    // The display goes off half a second later; a way that fails when used is logged then.
    h.power->displaySleepProblemResult.reset();
    h.power->displaySleepNowResult = {1, "xset: unable to open display \":0\""};
    EXPECT_EQ(
        h->handle({"rest", {}}).message,
        "🖥️ Display off — the computer stays awake and reachable. ⚠️ Lid-closed mode is "
        "unavailable: the system won't let Lumenor hold the lid.");
    EXPECT_EQ(h->session()->kind, SessionKind::indefinite());
    EXPECT_EQ(h.power->count("displaySleepNow"), 0);
    EXPECT_EQ(h.mainThread->delays, std::vector<double>{0.5});
    std::exchange(h.mainThread->delayed, {}).front()(); // the task holds the platform
    h.settle();
    EXPECT_EQ(h.logMessages().back(),
              "⚠️ Couldn't turn the display off: xset: unable to open display \":0\"");
    EXPECT_EQ(std::ranges::count(h.logMessages(), "Resting — display off, still reachable"), 0);

    h.power->sleepProblemResult = "no login manager (logind) on the system bus";
    response = h->handle({"sleep", {{"in", "0"}}});
    EXPECT_FALSE(response.ok);
    EXPECT_EQ(response.message, "Couldn't put the computer to sleep: no login manager (logind) "
                                "on the system bus.");
    EXPECT_FALSE(h->pendingSleep());
    EXPECT_TRUE(h->session()) << "the rest session goes on";

    namespace fs = std::filesystem;
    // Folders where the files should be stop root as well as anyone.
    fs::remove(h.settingsPath());
    fs::create_directories(h.settingsPath());
    fs::remove(h.logFile);
    fs::create_directories(h.logFile);
    testing::internal::CaptureStderr();
    response = h->handle({"set", {{"display", "on"}}});
    h->log("one more event");
    const std::string stderrText = testing::internal::GetCapturedStderr();

    const std::string problem =
        "Couldn't save settings to " + h.settingsPath() + ": a folder is in the way.";
    EXPECT_FALSE(response.ok);
    EXPECT_TRUE(response.message.starts_with(problem + " ")) << response.message;
    EXPECT_EQ(response.status->problem, problem);
    EXPECT_TRUE(h->keepDisplayOn()) << "the value holds until the app quits";
    EXPECT_EQ(stderrText, "Lumenor: couldn't write the log " + h.logFile.string() +
                              ": Is a directory; events still show in the panel.\n");
    EXPECT_EQ(h.lastEvent(), "one more event");

    fs::remove(h.settingsPath());
    fs::remove(h.logFile);
    EXPECT_TRUE(h->handle({"set", {{"display", "off"}}}).ok) << "writable again";
    EXPECT_EQ(h->snapshot().problem, std::nullopt);
    h->log("written again");
    EXPECT_EQ(h.logMessages().back(), "written again");

    // A FIFO put in the log's place is refused at once, not waited on for good.
    fs::rename(h.logFile, h.logFile.string() + ".old");
    ASSERT_EQ(::mkfifo(h.logFile.c_str(), 0600), 0);
    testing::internal::CaptureStderr();
    h->log("not into a pipe");
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Lumenor: couldn't write the log " + h.logFile.string() +
                  ": it is not a regular file; events still show in the panel.\n");

    // Turned over at 1 MiB, one older copy kept.
    fs::remove(h.logFile);
    std::ofstream(h.logFile) << std::string(1'048'570, 'x');
    h->log("fresh");
    EXPECT_EQ(fs::file_size(h.logFile.string() + ".1"), 1'048'570u);
    EXPECT_EQ(h.logMessages(), Words{"fresh"});
}
