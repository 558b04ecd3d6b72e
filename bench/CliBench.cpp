// End-to-end cost of the `lumenor` command, process start to exit, against a real app in a
// private home. Each figure is a pair run interleaved (A, B, B, A, ...) so that a busy machine
// slows both sides alike; the medians and their ratio are printed. Figures only.
//
// Usage: CliBench [--pairs N] [--tree DIR]...   (default: this build tree; several trees, for
// instance an older build or an install prefix, are measured one after another in the same run)

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "BenchApp.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

using BenchApp::Program;
using BenchApp::spawn;

// Microseconds from spawn to exit; negative when the program failed.
double timed(const Program& program) {
    const auto began = Clock::now();
    const pid_t pid = spawn(program);
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0)
        return -1;
    return std::chrono::duration<double, std::micro>(Clock::now() - began).count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

void comparePair(const char* name, const Program& a, const Program& b, int pairs) {
    std::vector<double> first, second;
    for (int index = 0; index < pairs; ++index) {
        const bool aFirst = index % 2 == 0;
        const double one = timed(aFirst ? a : b);
        const double other = timed(aFirst ? b : a);
        if (one < 0 || other < 0) {
            std::printf("  %-34s failed\n", name);
            return;
        }
        first.push_back(aFirst ? one : other);
        second.push_back(aFirst ? other : one);
    }
    const double ma = median(first), mb = median(second);
    std::printf("  %-34s %8.0f µs vs %8.0f µs   ratio %.2f×\n", name, ma, mb, ma / mb);
}

bool pingSucceeds(const std::string& tool) {
    return timed({tool, {"ping"}}) >= 0;
}

void measure(const fs::path& tree, int pairs) {
    const std::string app = (tree / "bin/lumenor-app").string();
    const std::string tool = (tree / "bin/lumenor").string();
    if (!fs::exists(app) || !fs::exists(tool)) {
        std::printf("%s: no app or lumenor command there\n", tree.c_str());
        return;
    }
    BenchApp::Instance instance(tree);
    const std::string socketPath = instance.socketPath();
    bool serving = false;
    for (int attempt = 0; attempt < 200 && !serving && !socketPath.empty(); ++attempt) {
        serving = pingSucceeds(tool);
        if (!serving)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    std::printf("%s (%s, %.1f MB command)\n", tree.c_str(), serving ? "serving" : "not serving",
                double(fs::file_size(tool)) / 1e6);
    if (serving) {
        const std::string request = (instance.home / "ping.json").string();
        std::FILE* file = std::fopen(request.c_str(), "w");
        std::fputs("{\"command\":\"ping\",\"options\":{}}\n", file);
        std::fclose(file);
        const Program ping{tool, {"ping"}};
        const Program socat{"/usr/bin/socat", {"-", "UNIX-CONNECT:" + socketPath}, request};
        comparePair("lumenor ping / true", ping, {"/bin/true", {}}, pairs);
        if (fs::exists(socat.path))
            comparePair("lumenor ping / socat, same exchange", ping, socat, pairs);
        comparePair("lumenor --version / true", {tool, {"--version"}}, {"/bin/true", {}}, pairs);
    }
}

} // namespace

int main(int argc, char** argv) {
    int pairs = 60;
    std::vector<fs::path> trees;
    for (int index = 1; index < argc; ++index) {
        const std::string argument = argv[index];
        if (argument == "--pairs" && index + 1 < argc)
            pairs = std::max(1, std::atoi(argv[++index]));
        else if (argument == "--tree" && index + 1 < argc)
            trees.emplace_back(argv[++index]);
    }
    if (trees.empty())
        trees.emplace_back(LUMENOR_BINARY_DIR);
    std::printf("medians of %d interleaved pairs, %u cores\n", pairs,
                std::thread::hardware_concurrency());
    for (const auto& tree : trees)
        measure(tree, pairs);
    return 0;
}
