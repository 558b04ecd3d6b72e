#pragma once

// A real running lumenor-app in a private home, for the benchmarks that measure it from outside.

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace BenchApp {

struct Program {
    std::string path;
    std::vector<std::string> arguments;
    std::string input = "/dev/null";
};

inline pid_t spawn(const Program& program) {
    std::vector<std::string> arguments = program.arguments;
    arguments.insert(arguments.begin(), program.path);
    std::vector<char*> argv;
    for (auto& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, program.input.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    if (::posix_spawn(&pid, program.path.c_str(), &actions, nullptr, argv.data(), environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

/// The app of `tree` (a build tree or an install prefix) started in a fresh private home; stopped
/// (and the home removed) when this goes.
class Instance {
public:
    explicit Instance(const std::filesystem::path& tree) {
        char pattern[] = "/tmp/lumenor-bench-XXXXXX";
        if (::mkdtemp(pattern) == nullptr)
            return;
        home = pattern;
        ::setenv("LUMENOR_HOME", pattern, 1);
        ::setenv("XDG_STATE_HOME", (home / "state").c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        pid = spawn({(tree / "bin/lumenor-app").string(), {}});
    }
    ~Instance() {
        if (pid > 0) {
            ::kill(pid, SIGTERM);
            ::waitpid(pid, nullptr, 0);
        }
        if (!home.empty())
            std::filesystem::remove_all(home);
    }
    Instance(const Instance&) = delete;
    Instance& operator=(const Instance&) = delete;

    /// The socket the app made in its home, waiting up to ten seconds for it.
    std::string socketPath() const {
        for (int attempt = 0; attempt < 200 && pid > 0; ++attempt) {
            std::error_code ignored;
            for (const auto& entry : std::filesystem::recursive_directory_iterator(home, ignored))
                if (entry.is_socket())
                    return entry.path().string();
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return {};
    }

    std::filesystem::path home;
    pid_t pid = -1;
};

/// Lets this process hold thousands of connections.
inline void raiseDescriptorLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

} // namespace BenchApp
