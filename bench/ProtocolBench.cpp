// Round trips to a real app from this separate process: latency of one client, throughput of
// eight, a crowd of idle clients, a crowd asking at once, and pings while a download watch
// measures the whole file system. Figures only.
//
// Usage: ProtocolBench [--tree DIR]...   (default: this build tree; or an install prefix)

#include "BenchApp.h"

#include "LumenorCore/LumenorClient.h"
#include "LumenorCore/LumenorJSON.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

const LumenorRequest ping{"ping", {}};

struct Sample {
    std::vector<double> micros;
    int failures = 0;
};

double percentile(std::vector<double> values, double fraction) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, std::size_t(fraction * double(values.size())))];
}

void printLatency(const char* name, const Sample& sample) {
    std::printf(
        "  %-38s p50 %7.0f µs  p90 %7.0f µs  p99 %7.0f µs  max %8.0f µs  (%zu, %d failed)\n", name,
        percentile(sample.micros, 0.5), percentile(sample.micros, 0.9),
        percentile(sample.micros, 0.99), percentile(sample.micros, 1.0), sample.micros.size(),
        sample.failures);
}

bool timedPing(const std::string& path, Sample& sample) {
    const auto began = Clock::now();
    try {
        if (LumenorClient::send(ping, path, 5).ok) {
            sample.micros.push_back(
                std::chrono::duration<double, std::micro>(Clock::now() - began).count());
            return true;
        }
    } catch (const std::exception&) {
    }
    ++sample.failures;
    return false;
}

Sample pings(const std::string& path, int count, Clock::duration longest = 30s) {
    Sample sample;
    const auto until = Clock::now() + longest;
    for (int index = 0; index < count && Clock::now() < until; ++index)
        timedPing(path, sample);
    return sample;
}

void throughput(const std::string& path, int clients) {
    std::atomic<long> done = 0, failed = 0;
    std::atomic<bool> running = true;
    std::vector<std::thread> threads;
    const auto began = Clock::now();
    for (int index = 0; index < clients; ++index)
        threads.emplace_back([&] {
            while (running) {
                try {
                    LumenorClient::send(ping, path, 5);
                    ++done;
                } catch (const std::exception&) {
                    ++failed;
                }
            }
        });
    std::this_thread::sleep_for(3s);
    running = false;
    for (auto& thread : threads)
        thread.join();
    const double seconds = std::chrono::duration<double>(Clock::now() - began).count();
    std::printf("  %d clients at once: %.0f round trips a second (%ld failed)\n", clients,
                double(done) / seconds, long(failed));
}

int connected(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd >= 0 &&
        ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

std::string threadsOf(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("Threads:", 0) == 0)
            return line.substr(line.find_first_not_of(" \t", 8));
    return "?";
}

void idleCrowd(const BenchApp::Instance& app, const std::string& path, int count) {
    std::vector<int> idle;
    for (int index = 0; index < count; ++index)
        if (const int fd = connected(path); fd >= 0)
            idle.push_back(fd);
    std::this_thread::sleep_for(300ms);
    const std::string threads = threadsOf(app.pid);
    char name[96];
    std::snprintf(name, sizeof name, "ping, %zu idle clients (%s threads)", idle.size(),
                  threads.c_str());
    printLatency(name, pings(path, 50, 20s));
    for (const int fd : idle)
        ::close(fd);
}

void crowdAtOnce(const std::string& path, int count) {
    const std::string line = LumenorJSON::line(ping);
    const auto began = Clock::now();
    std::vector<pollfd> waiting;
    for (int index = 0; index < count; ++index) {
        const int fd = connected(path);
        if (fd >= 0 && ::send(fd, line.data(), line.size(), MSG_NOSIGNAL) == ssize_t(line.size()))
            waiting.push_back({fd, POLLIN, 0});
        else if (fd >= 0)
            ::close(fd);
    }
    int answered = 0;
    const auto until = Clock::now() + 20s;
    while (!waiting.empty() && Clock::now() < until) {
        if (::poll(waiting.data(), waiting.size(), 1000) <= 0)
            continue;
        for (auto& watched : waiting) {
            if (watched.revents == 0)
                continue;
            char buffer[512];
            // Small answers arrive whole; a line feed at the end is an answer.
            const ssize_t got = ::recv(watched.fd, buffer, sizeof buffer, 0);
            answered += got > 0 && buffer[got - 1] == '\n';
            ::close(watched.fd);
            watched.fd = -1;
        }
        std::erase_if(waiting, [](const pollfd& watched) { return watched.fd < 0; });
    }
    for (const auto& watched : waiting)
        ::close(watched.fd);
    std::printf("  %d clients at once: %d answered in %.0f ms\n", count, answered,
                std::chrono::duration<double, std::milli>(Clock::now() - began).count());
}

void whileWatchingRoot(const std::string& path) {
    try {
        const auto started = LumenorClient::send({"on", {{"file", "/"}}}, path, 30);
        // Without a way to keep awake here the session is still kept, and watched.
        if (!started.status || !started.status->sessionDescription) {
            std::printf("  on --file /: %s\n", started.message.c_str());
            return;
        }
    } catch (const std::exception& error) {
        std::printf("  on --file /: %s\n", error.what());
        return;
    }
    // Long enough for two measurements of the file system to start.
    printLatency("ping while watching /", pings(path, 1'000'000, 12s));
    try {
        LumenorClient::send({"off", {}}, path, 30);
    } catch (const std::exception&) {
    }
}

void measure(const fs::path& tree) {
    BenchApp::Instance app(tree);
    const std::string path = app.socketPath();
    Sample warm;
    for (int attempt = 0; attempt < 100 && !path.empty() && !timedPing(path, warm); ++attempt)
        std::this_thread::sleep_for(50ms);
    if (warm.micros.empty()) {
        std::printf("%s: the app did not start serving\n", tree.c_str());
        return;
    }
    std::printf("%s (%s threads at rest)\n", tree.c_str(), threadsOf(app.pid).c_str());
    printLatency("ping, one client", pings(path, 3000));
    throughput(path, 8);
    idleCrowd(app, path, 1000);
    crowdAtOnce(path, 2000);
    whileWatchingRoot(path);
}

} // namespace

int main(int argc, char** argv) {
    std::vector<fs::path> trees;
    for (int index = 1; index < argc; ++index)
        if (std::string(argv[index]) == "--tree" && index + 1 < argc)
            trees.emplace_back(argv[++index]);
    if (trees.empty())
        trees.emplace_back(LUMENOR_BINARY_DIR);
    BenchApp::raiseDescriptorLimit();
    std::printf("round trips from a separate process, %u cores\n",
                std::thread::hardware_concurrency());
    for (const auto& tree : trees)
        measure(tree);
    return 0;
}
