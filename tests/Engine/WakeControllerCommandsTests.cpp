#include "Support/EngineHarness.h"
#include "Support/WakeControllerProbe.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <limits>
#include <tuple>
#include <unistd.h>

namespace {

using Options = std::map<std::string, std::string>;

const std::string lidOff = " (lid-closed mode is off — closing the lid will sleep it).";
const std::string notSetUp = ". ⚠️ Lid-closed mode isn't set up yet: run `lumenor setup` once.";

RunningApplication application(int32_t pid, std::optional<std::string> name, std::string bundle) {
    RunningApplication app;
    app.processIdentifier = pid;
    app.localizedName = std::move(name);
    app.bundleIdentifier = std::move(bundle);
    return app;
}

class WakeControllerCommands : public ::testing::Test {
protected:
    LumenorResponse send(const std::string& command, Options options = {}) {
        auto response = h->handle({command, std::move(options)});
        EXPECT_TRUE(response.status) << command;
        return response;
    }
    void expectRejected(const std::string& command, Options options, const std::string& message) {
        const auto response = send(command, std::move(options));
        EXPECT_FALSE(response.ok) << message;
        EXPECT_EQ(response.message, message);
    }

    EngineHarness h;
};

TEST_F(WakeControllerCommands, OnTakesTheFirstKindOptionAndAppliesFlagsFirst) {
    auto response = send("on", {{"until", "nonsense"}, {"for", "30m"}, {"lid", "nope"}});
    EXPECT_TRUE(response.ok);
    EXPECT_EQ(h->session()->kind, SessionKind::until(h.clock.now() + std::chrono::minutes(30)));
    EXPECT_FALSE(h->lidClosedMode());
    EXPECT_EQ(response.message,
              "Keeping the Mac awake — " + h->session()->title(h.clock.now()) + lidOff);
    EXPECT_EQ(response.status->sessionEndsAt, h.clock.now() + std::chrono::minutes(30));

    // Flags stick even when the kind is rejected; the running session stays.
    expectRejected("on", {{"for", "soon"}, {"lid", "YES"}, {"display", "On"}},
                   "Couldn't understand duration “soon”. Try 30m, 2h, 1h30m.");
    EXPECT_TRUE(h->lidClosedMode());
    EXPECT_TRUE(h->keepDisplayOn());
    EXPECT_TRUE(h->session()->kind.is<SessionKind::Until>());

    response = send("on", {{"pid", std::to_string(getpid())}, {"app", "Safari"}});
    EXPECT_EQ(h->session()->kind, SessionKind::process(getpid(), ""));
    EXPECT_EQ(response.message, "Keeping the Mac awake — While process " +
                                    std::to_string(getpid()) + " runs" + notSetUp);

    send("on");
    EXPECT_EQ(h->session()->kind, SessionKind::indefinite());
}

TEST_F(WakeControllerCommands, OnRejectsWhatItCannotFind) {
    expectRejected("on", {{"until", "teatime"}},
                   "Couldn't understand time “teatime”. Try 18:30 or 6pm.");
    expectRejected("on", {{"pid", "12ab"}}, "No running process with pid 12ab.");
    expectRejected("on", {{"pid", "2147483648"}}, "No running process with pid 2147483648.");
    expectRejected("on", {{"pid", std::to_string(std::numeric_limits<int32_t>::max())}},
                   "No running process with pid 2147483647.");
    h.workspace->applications = {application(77, std::nullopt, "org.a.Safari")};
    expectRejected("on", {{"app", "ORG.A.SAFARI"}}, "“ORG.A.SAFARI” isn't running.");
    expectRejected("on", {{"file", "/no/such/file.iso"}}, "File not found: /no/such/file.iso");
    EXPECT_FALSE(h->session());
    EXPECT_TRUE(h.logLines().empty());
}

TEST_F(WakeControllerCommands, OnFindsApplicationsAndFiles) {
    h.workspace->applications = {
        application(10, "Terminal", "Safari"),
        application(11, "Safari", "org.Safari"),
        application(12, std::nullopt, "org.nameless"),
    };
    send("on", {{"app", "Safari"}});
    EXPECT_EQ(h->session()->kind, SessionKind::app(10, "Terminal")) << "first match wins";
    send("on", {{"app", "sAfArI"}});
    EXPECT_EQ(h->session()->kind, SessionKind::app(11, "Safari"));
    send("on", {{"app", "org.nameless"}});
    EXPECT_EQ(h->session()->kind, SessionKind::app(12, "org.nameless"));
    EXPECT_EQ(h.workspace->watchedPids, (std::vector<int32_t>{10, 11, 12}));

    const std::string home = h.folder.path().toStdString();
    setenv("LUMENOR_HOME", home.c_str(), 1);
    h.workspace->files = {std::filesystem::path(home) / "Downloads" / "big.iso"};
    const auto response = send("on", {{"file", "~/Downloads/big.iso"}});
    unsetenv("LUMENOR_HOME");
    EXPECT_TRUE(response.ok);
    EXPECT_EQ(h->session()->kind, SessionKind::file(*h.workspace->files.begin()));
    EXPECT_EQ(response.message, "Keeping the Mac awake — While big.iso downloads" + notSetUp);
}

TEST_F(WakeControllerCommands, LidNoteFollowsTheSetupAndTheBattery) {
    WakeControllerProbe probe(h.controller());
    probe.setHelperReady(true);
    EXPECT_EQ(send("on").message,
              "Keeping the Mac awake — Indefinitely, even with the lid closed.");
    h.power->setBattery({.onBattery = true, .percent = 20});
    h->setMinimumBattery(30);
    h->setStopOnLowBattery(false);
    EXPECT_EQ(
        send("on").message,
        "Keeping the Mac awake — Indefinitely. ⚠️ Battery is low, so closing the lid will "
        "sleep it.");
    // With the floor in force the session ends at once and the title is empty.
    h->setStopOnLowBattery(true);
    EXPECT_EQ(
        send("on").message,
        "Keeping the Mac awake — . ⚠️ Battery is low, so closing the lid will sleep it.");
}

TEST_F(WakeControllerCommands, HoldReleaseAndOff) {
    expectRejected("hold", {}, "hold needs an id");
    expectRejected("hold", {{"id", ""}, {"for", "5m"}}, "hold needs an id");
    expectRejected("hold", {{"id", "job"}, {"for", "a while"}},
                   "Couldn't understand duration “a while”.");
    EXPECT_TRUE(h->holds().empty());

    auto response = send("hold", {{"id", "job"}});
    EXPECT_EQ(response.message, "Holding awake for 1 hour (job)");
    EXPECT_EQ(response.status->holdUntil, h.clock.now() + std::chrono::hours(1));
    EXPECT_TRUE(response.status->awake);
    EXPECT_EQ(send("hold", {{"id", "job"}, {"for", "90m"}}).message,
              "Holding awake for 1 hour 30 minutes (job)");

    expectRejected("release", {}, "release needs an id");
    EXPECT_EQ(send("release", {{"id", ""}}).message, "Released ");
    response = send("release", {{"id", "job"}});
    EXPECT_EQ(response.message, "Released job");
    EXPECT_FALSE(response.status->awake);

    send("on");
    response = send("off");
    EXPECT_EQ(response.message,
              "Keep-awake session ended. The Mac follows its normal sleep settings again.");
    EXPECT_FALSE(h->session());
    EXPECT_EQ(h.logMessages().back(), "Session ended — turned off via CLI");
}

TEST_F(WakeControllerCommands, SetClampsAndIgnoresWhatItCannotRead) {
    send("set", {{"remote_interval", "2"}, {"min_battery", "0"}});
    EXPECT_EQ(h->remoteWakeInterval(), 5);
    EXPECT_EQ(h->minimumBattery(), 1);
    send("set", {{"remote_interval", "999"}, {"min_battery", "80"}});
    EXPECT_EQ(h->remoteWakeInterval(), 240);
    EXPECT_EQ(h->minimumBattery(), 50);

    const auto response = send("set", {{"remote_interval", "often"},
                                       {"remote_wake", "TRUE"},
                                       {"display", "1"},
                                       {"lid", ""},
                                       {"low_battery_stop", "no"}});
    EXPECT_TRUE(response.ok);
    EXPECT_EQ(std::tuple(h->remoteWakeInterval(), h->remoteWakeEnabled(), h->keepDisplayOn(),
                         h->lidClosedMode(), h->stopOnLowBattery()),
              std::tuple(240, true, true, false, false));
    EXPECT_EQ(response.message, "Settings updated.\n" + h->snapshot().summary(h->now()));
    EXPECT_NE(response.message.find("📡 Remote wake checks every 240 min"), std::string::npos);
}

TEST_F(WakeControllerCommands, StatusPingAndUnknownWords) {
    h->hold("job", 1800);
    h.tickAfter(0);
    auto response = send("status");
    EXPECT_TRUE(response.ok);
    EXPECT_EQ(response.message, "☀️ Awake — held for a task (30m 00s left)\n"
                                "⚠️ Lid-closed mode needs one-time setup: run `lumenor setup`");
    EXPECT_EQ(send("ping").message, "pong");
    for (const std::string word : {"Status", "Wake", "sleep ", "set-up", ""}) {
        response = send(word);
        EXPECT_FALSE(response.ok);
        EXPECT_EQ(response.message, "Unknown command “" + word + "”.");
    }
}

} // namespace
