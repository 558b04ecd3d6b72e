// How many control-channel requests the engine answers per second, measured in process.

#include "Lumenor/Engine/WakeController.h"

#include <QCoreApplication>
#include <QSettings>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

class BenchAssertion : public PowerControl::Assertion {
public:
    using Assertion::Assertion;
    std::vector<std::string> heldBy() const override { return {"logind"}; }

protected:
    uint32_t acquire() override { return 1; }
    void release(uint32_t) override {}
};

// A quiet power layer: the measurement is the engine, not the system's power services.
class BenchPower : public PowerPlatform {
public:
    std::unique_ptr<PowerControl::Assertion> makeAssertion(const std::string& type,
                                                           const std::string& reason) override {
        return std::make_unique<BenchAssertion>(type, reason);
    }
    PowerControl::Battery battery() override { return {.onBattery = true, .percent = 80}; }
    bool isLidClosed() override { return false; }
    bool lidAvailable() override { return false; }
    PowerResult takeLid() override { return {}; }
    PowerResult renewLid() override { return {}; }
    void releaseLid() override {}
    bool wakeHelperInstalled() override { return false; }
    bool wakeHelperWorks() override { return false; }
    PowerResult setWakeAlarm(Instant) override { return {}; }
    PowerResult cancelWakeAlarm() override { return {}; }
    void setLidBatteryFloor(int) override {}
    void wakeDisplay() override {}
    std::optional<std::string> setupBlocker() override { return {}; }
    void installHelper() override {}
    void uninstallHelper() override {}
    PowerControl::RunResult sleepNow() override { return {}; }
    PowerControl::RunResult displaySleepNow() override { return {}; }
    std::optional<std::vector<PowerControl::Inhibitor>> listInhibitors() override { return {}; }
    std::optional<std::string> sleepProblem() override { return std::nullopt; }
    std::optional<std::string> displaySleepProblem() override { return std::nullopt; }
};

class BenchWorkspace : public Workspace {
public:
    std::vector<RunningApplication> runningApplications() override { return {}; }
    void watchProcess(int32_t) override {}
    void unwatchProcess(int32_t) override {}
    bool fileExists(const std::filesystem::path&) override { return false; }
    void watchBattery(bool) override {}
};

class InlineExecutor : public SerialExecutor {
public:
    void post(std::function<void()> task) override { task(); }
    void drain() override {}
};

void handleStatus(benchmark::State& state) {
    QTemporaryDir folder;
    const auto inline_ = std::make_shared<InlineExecutor>();
    WakeController controller(WakeController::Environment{
        .clock = [] { return std::chrono::system_clock::now(); },
        .power = std::make_shared<BenchPower>(),
        .workspace = std::make_shared<BenchWorkspace>(),
        .settings =
            std::make_shared<QSettings>(folder.filePath("settings.ini"), QSettings::IniFormat),
        .logFile = folder.filePath("lumenor.log").toStdString(),
        .stateFile = {}, // the bench keeps no session
        .mainThread = inline_,
        .privileged = inline_,
        .background = inline_,
    });
    // A typical busy state: a timed session and an agent's hold.
    controller.startSession(
        SessionKind::until(std::chrono::system_clock::now() + std::chrono::hours(2)));
    Hold build;
    build.id = "build";
    controller.hold(build, 1800);
    controller.update();
    const LumenorRequest request{"status", {}};
    for (auto _ : state) {
        benchmark::DoNotOptimize(controller.handle(request));
    }
    state.counters["requests/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(handleStatus);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
