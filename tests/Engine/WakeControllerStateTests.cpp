#include "Support/EngineHarness.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

/// A harness that keeps its session in a state file, started like the app.
struct Restartable : EngineHarness {
    Restartable() {
        stateFile = folder.filePath("Support/state.json").toStdString();
        restart();
    }
    void restart() {
        recreate();
        controller().start();
    }
    std::vector<std::string> stateWarnings() const {
        std::vector<std::string> found;
        std::ranges::copy_if(logMessages(), std::back_inserter(found),
                             [](const std::string& m) { return m.starts_with("⚠️ State: "); });
        return found;
    }
};

TEST(WakeControllerState, SessionsComeBackAfterARestartOnlyWhileTheyStillApply) {
    const int32_t alive = ::getpid();
    const Instant start = EngineHarness::clockStart;
    const std::filesystem::path download = "/home/me/Downloads/disk.iso";
    const std::pair<SessionKind, bool> cases[] = {
        {SessionKind::indefinite(), true},
        {SessionKind::until(start + std::chrono::hours(1)), true},
        {SessionKind::until(start + std::chrono::seconds(60)), false}, // over while stopped
        {SessionKind::app(alive, "Editor"), true},
        {SessionKind::app(deadPid, "Editor"), false},
        {SessionKind::process(alive, "build"), true},
        {SessionKind::process(deadPid, ""), false},
        {SessionKind::file(download), true},
        {SessionKind::file("/home/me/Downloads/gone.iso"), false},
    };
    for (const auto& [kind, restored] : cases) {
        Restartable h;
        h.workspace->files = {download};
        h->startSession(kind);
        const KeepAwakeSession saved = *h->session();
        EXPECT_EQ(modeOf(h.stateFile), 0600u);

        h.clock.advance(120);
        h.workspace->watchedPids.clear();
        h.restart();
        SCOPED_TRACE(saved.title());
        if (restored) {
            EXPECT_EQ(h->session(), saved) << "kind and start time survive";
            const auto log = h.logMessages();
            EXPECT_NE(std::ranges::find(log, "Restored: " + saved.title(h.clock.now())), log.end());
        } else {
            EXPECT_FALSE(h->session());
            EXPECT_TRUE(nlohmann::json::parse(readFile(h.stateFile)).at("session").is_null())
                << "a session that no longer applies is forgotten";
        }
        const bool watches = !h.workspace->watchedPids.empty();
        EXPECT_EQ(watches,
                  restored && (kind.is<SessionKind::App>() || kind.is<SessionKind::Process>()));
        EXPECT_TRUE(h.stateWarnings().empty());
    }

    Restartable quit;
    quit->startSession(SessionKind::indefinite());
    quit->endSession("quit");
    quit.restart();
    EXPECT_FALSE(quit->session()) << "an ended session stays ended";
}

TEST(WakeControllerState, AnUnusableStateFileIsReportedOnceAndKept) {
    const std::string bad[] = {
        "{oops",
        R"({"session": {"kind": "forever", "startedAt": 0}})",
        R"({"session": {"kind": "process", "pid": 99999999999, "label": "", "startedAt": 0}})",
        R"({"session": {"kind": "until", "startedAt": 0}})",
        R"({"session": {"kind": "until", "end": 1e300, "startedAt": 0}})",
        R"({"session": {"kind": "until", "end": -9999999999, "startedAt": 0}})", // past the clock
        R"([1, 2])",
    };
    for (const std::string& text : bad) {
        SCOPED_TRACE(text);
        Restartable h;
        writeFile(h.stateFile, text);
        h.restart();
        EXPECT_FALSE(h->session());
        EXPECT_EQ(h.stateWarnings().size(), 1u);
        EXPECT_EQ(readFile(h.stateFile.string() + ".bad"), text);

        h->startSession(SessionKind::indefinite());
        h.restart();
        EXPECT_TRUE(h->session()) << "later sessions are kept again";
        EXPECT_EQ(readFile(h.stateFile.string() + ".bad"), text);
        EXPECT_EQ(h.stateWarnings().size(), 1u);
    }
    Restartable h; // a FIFO would have blocked the start for good
    std::filesystem::create_directories(h.stateFile.parent_path());
    ASSERT_EQ(::mkfifo(h.stateFile.c_str(), 0600), 0);
    h.restart();
    EXPECT_EQ(h.stateWarnings(),
              Words{"⚠️ State: couldn't read state.json: it is not a regular "
                    "file; kept as state.json.bad"});
}

// A write that fails is told in the reply, and the file is removed so that an ended session
// does not come back.
TEST(WakeControllerState, AnUnsavedSessionIsToldAndAnEndedOneNeverComesBack) {
    Restartable h;
    h->handle({"on", {}});
    std::filesystem::create_directories(h.stateFile.string() + ".tmp"); // no write succeeds
    EXPECT_TRUE(h->handle({"off", {}}).ok);
    h.restart();
    EXPECT_FALSE(h->session());
    EXPECT_TRUE(h->handle({"on", {}})
                    .message.ends_with("\n⚠️ Couldn't save the session (a file is in the way), "
                                       "so a restart of Lumenor won't "
                                       "bring it back."));
    std::filesystem::create_directories(h.stateFile); // nor can it be removed
    EXPECT_FALSE(h->handle({"off", {}}).ok);
}
