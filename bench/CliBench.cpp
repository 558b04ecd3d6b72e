// End-to-end latency of the `lumenor` command: process start to exit, against a real app
// running in a private home. Figures only; nothing here asserts a speed.

#include <benchmark/benchmark.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

const std::string appPath = LUMENOR_BINARY_DIR "/Lumenor.app/Contents/MacOS/Lumenor";
const std::string toolPath = LUMENOR_BINARY_DIR "/Lumenor.app/Contents/Helpers/lumenor";

pid_t spawnQuietly(const std::string& program, std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), program);
    std::vector<char*> argv;
    for (auto& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    if (::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) {
        pid = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

int runToEnd(const std::string& program, const std::vector<std::string>& arguments) {
    const pid_t pid = spawnQuietly(program, arguments);
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid) {
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void command(benchmark::State& state, std::vector<std::string> arguments, int expected) {
    for (auto _ : state) {
        if (runToEnd(toolPath, arguments) != expected) {
            state.SkipWithError("unexpected exit status");
            break;
        }
    }
}

// No socket involved: the cost of starting the program and parsing its arguments.
void BM_LumenorVersion(benchmark::State& state) {
    command(state, {"--version"}, 0);
}
void BM_LumenorPing(benchmark::State& state) {
    command(state, {"ping"}, 0);
}
void BM_LumenorStatus(benchmark::State& state) {
    command(state, {"status"}, 0);
}

void configure(benchmark::internal::Benchmark* benchmark) {
    benchmark->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->Repetitions(5)
        ->ReportAggregatesOnly(true);
}

BENCHMARK(BM_LumenorVersion)->Apply(configure);
BENCHMARK(BM_LumenorPing)->Apply(configure);
BENCHMARK(BM_LumenorStatus)->Apply(configure);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (!std::filesystem::exists(appPath) || !std::filesystem::exists(toolPath)) {
        std::fprintf(stderr, "CliBench: build the app and the lumenor command first\n");
        return 0;
    }
    char home[] = "/tmp/lumenor-bench-XXXXXX";
    if (::mkdtemp(home) == nullptr) {
        return 1;
    }
    ::setenv("LUMENOR_HOME", home, 1);
    ::setenv("XDG_CONFIG_HOME", home, 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);

    const pid_t app = spawnQuietly(appPath, {});
    bool serving = false;
    for (int attempt = 0; attempt < 200 && !serving; ++attempt) {
        serving = runToEnd(toolPath, {"ping"}) == 0;
        if (!serving) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    if (serving) {
        benchmark::RunSpecifiedBenchmarks();
    } else {
        std::fprintf(stderr, "CliBench: the app did not start serving\n");
    }
    ::kill(app, SIGTERM);
    ::waitpid(app, nullptr, 0);
    benchmark::Shutdown();
    std::filesystem::remove_all(home);
    return serving ? 0 : 1;
}
