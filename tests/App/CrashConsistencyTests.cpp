// The app killed outright while requests keep changing its state must leave files the next run
// can use: a settings file that loads with values in range, and a log of whole lines.

#include "Processes.h"

#include "LumenorCore/LumenorClient.h"

#include <QSettings>
#include <QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <random>
#include <regex>
#include <sstream>
#include <thread>

namespace {

const std::vector<LumenorRequest> storm = {
    {"set", {{"display", "on"}, {"remote_interval", "30"}}},
    {"hold", {{"id", "agent-1"}, {"for", "10m"}}},
    {"on", {{"for", "30m"}}},
    {"set", {{"display", "off"}, {"min_battery", "25"}, {"remote_wake", "on"}}},
    {"off", {}},
    {"set", {{"low_battery_stop", "off"}, {"remote_interval", "120"}}},
    {"hold", {{"id", "agent-2"}, {"for", "1h"}}},
    {"set", {{"lid", "off"}, {"min_battery", "5"}, {"remote_wake", "off"}}},
};

// What went wrong with the files, or empty.
std::string damageIn(const Sandbox& sandbox) {
    static const std::regex wholeLine(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ \S.*)");
    std::istringstream lines(readFile(sandbox.socketPath().parent_path() / "lumenor.log"));
    // A last line without its newline ends the stream while it is read.
    for (std::string line; std::getline(lines, line);)
        if (lines.eof() || !std::regex_match(line, wholeLine))
            return "log line torn or damaged: " + line;
    const auto file = sandbox.home() / ".config/Lumenor/Lumenor.conf";
    QSettings settings(QString::fromStdString(file.string()), QSettings::IniFormat);
    if (settings.status() != QSettings::NoError)
        return "settings do not load";
    for (const auto& [key, low, high] :
         {std::tuple{"remoteWakeInterval", 5, 240}, {"minimumBattery", 1, 50}}) {
        bool number = true;
        const int value = settings.value(key, low).toInt(&number);
        if (!number || value < low || value > high)
            return std::string("setting out of range: ") + key;
    }
    for (const char* key : {"keepDisplayOn", "remoteWakeEnabled", "lidClosedMode"})
        if (const QString value = settings.value(key, "false").toString();
            value != "true" && value != "false")
            return std::string("setting damaged: ") + key;
    return {};
}

} // namespace

TEST(CrashConsistency, KilledDuringARequestStormLeavesUsableFiles) {
    const unsigned seed = std::random_device{}();
    std::mt19937 random(seed);
    for (int run = 0; run < 50; ++run) {
        Sandbox sandbox;
        auto app = startApp(sandbox, false);
        const std::string path = sandbox.socketPath().string();
        ASSERT_TRUE(QTest::qWaitFor([&] { return lumenor(sandbox, {"ping"}).status == 0; }, 20000))
            << "run " << run;

        // Two callers at once, killed after a random number of answers and a random pause.
        std::atomic<int> answered = 0;
        std::atomic<bool> going = true;
        std::vector<std::thread> callers;
        for (int caller = 0; caller < 2; ++caller)
            callers.emplace_back([&, caller] {
                for (std::size_t index = std::size_t(caller); going; ++index) {
                    try {
                        LumenorClient::send(storm[index % storm.size()], path, 2);
                        ++answered;
                    } catch (const std::exception&) {
                    }
                }
            });
        const int killAfter = std::uniform_int_distribution(1, 30)(random);
        (void)QTest::qWaitFor([&] { return answered >= killAfter; }, 5000);
        std::this_thread::sleep_for(
            std::chrono::microseconds(std::uniform_int_distribution(0, 3000)(random)));
        // An app that already ended has no pid, and kill(0) would end this whole process group.
        const qint64 pid = app->processId();
        if (pid > 0)
            ::kill(pid_t(pid), SIGKILL);
        app->waitFor(5000);
        going = false;
        for (auto& caller : callers)
            caller.join();
        ASSERT_GT(pid, 0) << "run " << run << ": the app ended by itself\n" << app->err();

        EXPECT_EQ(damageIn(sandbox), "") << "run " << run << ", seed " << seed;
    }
}
