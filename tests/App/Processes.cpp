#include "App/Processes.h"

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

using namespace std::chrono_literals;

bool isOverridden(const std::string& entry) {
    for (const char* name : {"DISPLAY=", "WAYLAND_DISPLAY=", "QT_QPA_PLATFORM=", "LUMENOR_HOME=",
                             "XDG_CONFIG_HOME="}) {
        if (entry.starts_with(name)) {
            return true;
        }
    }
    return false;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> result;
    for (std::string& text : strings) {
        result.push_back(text.data());
    }
    result.push_back(nullptr);
    return result;
}

} // namespace

Sandbox::Sandbox(std::size_t homeLength) {
    std::string pattern = (std::filesystem::temp_directory_path() / "lumenor-app-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    root_ = pattern;
    std::string name = "home";
    const std::size_t base = (root_ / name).string().size();
    if (homeLength > base) {
        name.append(homeLength - base, 'h');
    }
    home_ = root_ / name;
    std::filesystem::create_directories(home_);
    std::filesystem::create_directories(root_ / "config");
}

Sandbox::~Sandbox() {
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
}

std::filesystem::path Sandbox::socketPath() const {
    return home_ / "Library/Application Support/Lumenor/lumenor.sock";
}

std::filesystem::path Sandbox::logFile() const {
    return home_ / "Library/Application Support/Lumenor/lumenor.log";
}

std::vector<std::string> Sandbox::environment(const std::vector<std::string>& extra) const {
    std::vector<std::string> result;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        if (!isOverridden(*entry)) {
            result.emplace_back(*entry);
        }
    }
    result.push_back("LUMENOR_HOME=" + home_.string());
    result.push_back("XDG_CONFIG_HOME=" + (root_ / "config").string());
    result.insert(result.end(), extra.begin(), extra.end());
    return result;
}

std::filesystem::path Sandbox::scratchFile(const std::string& stem) {
    return root_ / (stem + "-" + std::to_string(++scratchCount_));
}

Child::Child(const std::string& program, const std::vector<std::string>& arguments,
             const std::vector<std::string>& environment, Sandbox& sandbox)
    : out_(sandbox.scratchFile("out")), err_(sandbox.scratchFile("err")) {
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<std::string> envp = environment;
    auto argvPointers = pointers(argv);
    auto envPointers = pointers(envp);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out_.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err_.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int error = ::posix_spawn(&pid_, program.c_str(), &actions, nullptr, argvPointers.data(),
                                    envPointers.data());
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        throw std::runtime_error("cannot start " + program);
    }
}

Child::~Child() {
    if (!running()) {
        return;
    }
    // Give the app its orderly shutdown first, so that nothing it started outlives the test.
    signal(SIGTERM);
    if (!waitFor(10s)) {
        signal(SIGKILL);
        waitFor(10s);
    }
}

std::optional<int> Child::waitFor(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!status_) {
        int raw = 0;
        const pid_t done = ::waitpid(pid_, &raw, WNOHANG);
        if (done == pid_) {
            status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        } else if (done < 0) {
            status_ = -1;
        } else if (std::chrono::steady_clock::now() >= deadline) {
            return std::nullopt;
        } else {
            std::this_thread::sleep_for(10ms);
        }
    }
    return status_;
}

bool Child::running() {
    return !waitFor(0ms).has_value();
}

void Child::signal(int number) const {
    ::kill(pid_, number);
}

std::string Child::out() const {
    return readFile(out_);
}

std::string Child::err() const {
    return readFile(err_);
}

Finished run(const std::string& program, const std::vector<std::string>& arguments,
             const std::vector<std::string>& environment, Sandbox& sandbox,
             std::chrono::milliseconds limit) {
    Child child(program, arguments, environment, sandbox);
    Finished finished;
    if (auto status = child.waitFor(limit)) {
        finished.status = *status;
    } else {
        child.signal(SIGKILL);
        child.waitFor(10s);
    }
    finished.out = child.out();
    finished.err = child.err();
    return finished;
}

bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return condition();
        }
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

std::string readFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}
