#include "LumenorCore/LumenorClient.h"
#include "LumenorCore/LumenorJSON.h"
#include "LumenorCore/LumenorServer.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>

using namespace std::chrono;

namespace {

LumenorStatus fullStatus() {
    const Instant six = sys_days{2026y / 12 / 5} + 18h;
    return {.awake = true,
            .sessionDescription = "Until 19:30 — “release build”",
            .sessionEndsAt = six + 90min,
            .holdUntil = six + 30min,
            .lidClosedMode = true,
            .lidClosedModeActive = true,
            .lidClosedModeAvailable = true,
            .keepDisplayOn = false,
            .pendingSleepAt = six + 2h,
            .pendingSleepWaitingForPid = 48213,
            .remoteWakeEnabled = true,
            .remoteWakeIntervalMinutes = 15,
            .remoteWakeCycleArmed = false,
            .onBattery = true,
            .batteryPercent = 82};
}

void encodeStatus(benchmark::State& state) {
    const LumenorStatus status = fullStatus();
    for (auto _ : state)
        benchmark::DoNotOptimize(LumenorJSON::line(status));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(encodeStatus);

void decodeStatus(benchmark::State& state) {
    std::string line = LumenorJSON::line(fullStatus());
    line.pop_back();
    for (auto _ : state)
        benchmark::DoNotOptimize(LumenorJSON::decode<LumenorStatus>(line));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(decodeStatus);

// One server with a trivial handler for every round trip, in a private temporary folder.
class BenchServer {
public:
    BenchServer() {
        char pattern[] = "/tmp/lumenor-bench-XXXXXX";
        if (!::mkdtemp(pattern))
            std::abort();
        folder = pattern;
        path = (folder / "lumenor.sock").string();
        server = std::make_shared<LumenorServer>(path, [](const LumenorRequest&) {
            return LumenorResponse{true, "pong"};
        });
        server->start();
    }
    ~BenchServer() {
        server->stop();
        std::filesystem::remove_all(folder);
    }

    std::filesystem::path folder;
    std::string path;
    std::shared_ptr<LumenorServer> server;
};

const std::string& serverPath() {
    static BenchServer shared;
    return shared.path;
}

void roundTrip(benchmark::State& state) {
    const std::string& path = serverPath();
    const LumenorRequest ping{"ping", {}};
    for (auto _ : state)
        benchmark::DoNotOptimize(LumenorClient::send(ping, path, 5));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(roundTrip)->UseRealTime();
BENCHMARK(roundTrip)->Threads(8)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
