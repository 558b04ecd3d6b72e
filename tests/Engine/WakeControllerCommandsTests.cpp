#include "Support/EngineHarness.h"
#include "Support/WakeControllerProbe.h"

#include "LumenorCore/LumenorJSON.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <tuple>
#include <unistd.h>

using Options = std::map<std::string, std::string>;

const std::string notSetUp =
    ". ⚠️ Lid-closed mode is unavailable: the system won't let Lumenor hold the lid.";

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

TEST_F(WakeControllerCommands, OnTakesOneKindOptionAndAppliesFlagsFirst) {
    expectRejected("on", {{"app", "Safari"}, {"pid", "1"}, {"lid", "off"}},
                   "on takes one of --for, --until, --pid, --app, --file.");
    EXPECT_TRUE(!h->session() && h->lidClosedMode()) << "nothing of a refused request applies";
    auto response = send("on", {{"for", "30m"}, {"lid", "off"}});
    EXPECT_TRUE(response.ok);
    EXPECT_EQ(h->session()->kind, SessionKind::until(h.clock.now() + std::chrono::minutes(30)));
    EXPECT_EQ(response.message, "Keeping the computer awake — " +
                                    h->session()->title(h.clock.now()) +
                                    " (lid-closed mode is off — closing the lid will sleep it).");

    // Flags stick even when the kind is rejected; the running session stays.
    expectRejected("on", {{"for", "soon"}, {"lid", "YES"}, {"display", "On"}},
                   "Couldn't understand duration “soon”. Try 30m, 2h, 1h30m.");
    EXPECT_TRUE(h->lidClosedMode() && h->keepDisplayOn());
    EXPECT_TRUE(h->session()->kind.is<SessionKind::Until>());

    response = send("on", {{"pid", std::to_string(getpid())}});
    EXPECT_EQ(h->session()->kind, SessionKind::process(getpid(), ""));
    EXPECT_EQ(response.message, "Keeping the computer awake — While process " +
                                    std::to_string(getpid()) + " runs" + notSetUp);

    WakeControllerProbe(h.controller()).setLidAvailable(true);
    h.power->setBattery({.onBattery = true, .percent = 20});
    h->setMinimumBattery(30);
    h->setStopOnLowBattery(false);
    EXPECT_EQ(send("on").message,
              "Keeping the computer awake — Indefinitely. ⚠️ Battery is low, so "
              "closing the lid will sleep it.");
}

TEST_F(WakeControllerCommands, OnFindsApplicationsAndFilesOrSaysWhatItCannotFind) {
    h.workspace->applications = {{10, "Terminal", "Safari", "", true},
                                 {11, "Safari", "org.Safari", "", true},
                                 {12, std::nullopt, "org.nameless", "", true}};
    for (const auto& [option, value, message] :
         std::vector<std::tuple<std::string, std::string, std::string>>{
             {"until", "teatime", "Couldn't understand time “teatime”. Try 18:30 or 6pm."},
             {"pid", "12ab", "No running process with pid 12ab."},
             {"pid", "2147483647", "No running process with pid 2147483647."},
             {"file", "/no/such/file.iso", "File not found: /no/such/file.iso"},
             {"app", "ORG.NAMELESS", "“ORG.NAMELESS” isn't running."}}) {
        expectRejected("on", {{option, value}}, message);
    }
    EXPECT_FALSE(h->session());
    EXPECT_TRUE(h.logLines().empty());

    send("on", {{"app", "Safari"}});
    EXPECT_EQ(h->session()->kind, SessionKind::app(10, "Terminal")) << "first match wins";
    send("on", {{"app", "sAfArI"}});
    EXPECT_EQ(h->session()->kind, SessionKind::app(11, "Safari"));
    send("on", {{"app", "org.nameless"}});
    EXPECT_EQ(h->session()->kind, SessionKind::app(12, "org.nameless"));

    const std::string home = h.folder.path().toStdString();
    setenv("LUMENOR_HOME", home.c_str(), 1);
    h.workspace->files = {std::filesystem::path(home) / "Downloads" / "big.iso"};
    send("on", {{"file", "~/Downloads/big.iso"}});
    unsetenv("LUMENOR_HOME");
    EXPECT_EQ(h->session()->kind, SessionKind::file(*h.workspace->files.begin()));
}

TEST_F(WakeControllerCommands, HoldsAreTakenListedReleasedAndLoggedAndUnknownWordsRefused) {
    expectRejected("hold", {{"id", ""}, {"for", "5m"}}, "hold needs an id");
    expectRejected("hold", {{"id", "remote-check"}, {"for", "2h"}},
                   "The hold id “remote-check” is reserved for Lumenor; choose another.");
    EXPECT_FALSE(h->isAwake());
    EXPECT_TRUE(h.logLines().empty());
    expectRejected("hold", {{"id", "job"}, {"for", "a while"}},
                   "Couldn't understand duration “a while”.");
    EXPECT_EQ(send("hold", {{"id", "job"}}).status->holdUntil,
              h.clock.now() + std::chrono::hours(1));
    expectRejected("release", {}, "release needs an id");
    EXPECT_FALSE(send("release", {{"id", "job"}}).status->awake);
    expectRejected("release", {{"id", "job"}}, "No hold “job”. No holds are active.");

    send("on");
    EXPECT_EQ(send("off").message,
              "Keep-awake session ended. The computer follows its normal sleep settings again.");
    EXPECT_EQ(h.logMessages().back(), "Session ended — turned off via CLI");
    for (const std::string word : {"Status", ""}) {
        expectRejected(word, {}, "Unknown command “" + word + "”.");
    }

    EXPECT_EQ(send("hold", {{"id", "task-7"}, {"for", "30m"}, {"label", "nightly build"}}).message,
              "Holding awake for 30 minutes (task-7)");
    h.tickAfter(60);
    // Extending keeps the label; a process hold lasts while its process runs.
    send("hold", {{"id", "task-7"}, {"for", "1h"}});
    EXPECT_EQ(send("hold", {{"id", "run-1"}, {"pid", std::to_string(getpid())}}).message,
              "Holding awake while process " + std::to_string(getpid()) + " runs (run-1)");
    expectRejected("hold", {{"id", "x"}, {"pid", std::to_string(deadPid)}},
                   "No running process with pid " + std::to_string(deadPid) + ".");
    EXPECT_EQ(send("holds").status->holds.value().front().pid, getpid());
    EXPECT_EQ(send("holds").message, "run-1: while process " + std::to_string(getpid()) +
                                         " runs\ntask-7 (nightly build): 1h 00m left");

    // `off` does not claim normal sleep while holds remain; an unknown release lists them.
    EXPECT_TRUE(send("off").message.starts_with(
        "Keep-awake session ended, but these holds still keep the computer awake:\nrun-1"));
    expectRejected("release", {{"id", "task-8"}},
                   "No hold “task-8”. Active holds:\n" + send("holds").message);
    send("release", {{"id", "run-1"}});
    h.tickAfter(3600);
    EXPECT_EQ(send("holds").message, "No holds are keeping the computer awake.");
    const auto log = h.logMessages();
    EXPECT_EQ(Words(log.end() - 4, log.end()),
              (Words{"Hold extended: task-7 (nightly build) for 1 hour",
                     "Hold taken: run-1 while process " + std::to_string(getpid()) + " runs",
                     "Hold released: run-1", "Hold expired: task-7"}));
}

// Every reply lists every hold: bounded, so that the largest reply stays small.
TEST_F(WakeControllerCommands, HoldsAndTheirNamesAreBounded) {
    const std::string label200(200, 'x');
    expectRejected("hold", {{"id", "a"}, {"label", label200 + "x"}},
                   "label takes at most 200 bytes, not 201.");
    for (int n = 0; n < 256; ++n)
        ASSERT_TRUE(send("hold", {{"id", "h" + std::to_string(n)}, {"label", label200}}).ok);
    expectRejected(
        "hold", {{"id", "one-more"}},
        "Lumenor keeps at most 256 holds; release one first (`lumenor holds` lists them).");
    EXPECT_TRUE(send("hold", {{"id", "h0"}, {"for", "2h"}}).ok);
    EXPECT_LT(LumenorJSON::line(send("holds")).size(), 150'000u);
}

TEST_F(WakeControllerCommands, InhibitorsAreListedAndSetClampsAndIgnoresWhatItCannotRead) {
    h.power->inhibitors = std::vector<PowerControl::Inhibitor>{
        {"handle-lid-switch", "GNOME Shell", "lid", "block", 0, 9},
        {"sleep", "Lumenor", "ours", "block", 1000, static_cast<uint32_t>(getpid())},
        {"sleep", "Lumenor", "ours, in a pid namespace", "block", getuid(), 1}};
    auto response = send("inhibitors");
    EXPECT_EQ(response.message, "GNOME Shell — lid (block handle-lid-switch, pid 9, uid 0 root)");
    EXPECT_EQ(response.status->otherInhibitors->size(), 1u);
    EXPECT_TRUE(send("status").message.ends_with(
        "\n🔒 Other programs' inhibitors: GNOME Shell (block handle-lid-switch: lid)"));
    EXPECT_FALSE(send("ping").status->otherInhibitors) << "only status and inhibitors ask logind";

    h.power->inhibitors = std::vector<PowerControl::Inhibitor>{};
    EXPECT_EQ(send("inhibitors").message, "No other program holds a logind inhibitor.");
    h.power->inhibitors.reset();
    expectRejected("inhibitors", {},
                   "Couldn't ask logind for its inhibitors (is the system bus running?).");

    expectRejected("set", {{"bogus", "1"}},
                   "set needs a setting to change: --lid, --display, --remote-wake, "
                   "--remote-interval, --low-battery-stop or --min-battery.");
    EXPECT_TRUE(send("set", {{"remote_interval", "2"}, {"min_battery", "0"}})
                    .message.starts_with("Settings updated.\nRemote wake interval set to 5 "
                                         "minutes (the minimum).\nBattery floor set to 1% (the "
                                         "minimum).\n"));
    EXPECT_EQ(std::pair(h->remoteWakeInterval(), h->minimumBattery()), std::pair(5, 1));

    // Values that mean nothing are refused, as the command refuses them, and change nothing.
    for (const auto& [name, value, wanted] :
         std::vector<std::tuple<std::string, std::string, std::string>>{
             {"lid", "maybe", "on or off"},
             {"remote_interval", "NaN", "a whole number"},
             {"min_battery", "99999999999999999999", "a whole number"}})
        expectRejected("set", {{name, value}},
                       name + " takes " + wanted + ", not “" + value + "”.");
    response = send(
        "set",
        {{"remote_wake", "TRUE"}, {"display", "1"}, {"lid", "no"}, {"low_battery_stop", "no"}});
    EXPECT_TRUE(response.ok);
    EXPECT_EQ(std::tuple(h->remoteWakeInterval(), h->remoteWakeEnabled(), h->keepDisplayOn(),
                         h->lidClosedMode(), h->stopOnLowBattery()),
              std::tuple(5, true, true, false, false));
}
