#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

/// A private home and configuration folder for the real binaries, removed afterwards, and the
/// environment that points them there without a display server.
class Sandbox {
public:
    /// `homeLength` pads the home folder's path to at least that many bytes.
    explicit Sandbox(std::size_t homeLength = 0);
    ~Sandbox();
    Sandbox(const Sandbox&) = delete;
    Sandbox& operator=(const Sandbox&) = delete;

    std::filesystem::path home() const { return home_; }
    std::filesystem::path socketPath() const;
    std::filesystem::path logFile() const;
    /// NAME=VALUE entries for a child: this process's environment without any display, plus
    /// LUMENOR_HOME, XDG_CONFIG_HOME and `extra`.
    std::vector<std::string> environment(const std::vector<std::string>& extra = {}) const;
    /// A fresh file name inside the sandbox, for captured output.
    std::filesystem::path scratchFile(const std::string& stem);

private:
    std::filesystem::path root_;
    std::filesystem::path home_;
    int scratchCount_ = 0;
};

/// The finished run of a program.
struct Finished {
    /// The exit status; -1 when the process was killed by a signal or had to be stopped.
    int status = -1;
    std::string out;
    std::string err;
};

/// A started program whose output goes to files; killed and reaped if still running at the end.
class Child {
public:
    Child(const std::string& program, const std::vector<std::string>& arguments,
          const std::vector<std::string>& environment, Sandbox& sandbox);
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t pid() const { return pid_; }
    /// The exit status once the process has ended (-1 for a signal); none if it still runs
    /// after `limit`.
    std::optional<int> waitFor(std::chrono::milliseconds limit);
    bool running();
    void signal(int number) const;
    std::string out() const;
    std::string err() const;

private:
    pid_t pid_ = -1;
    std::optional<int> status_;
    std::filesystem::path out_;
    std::filesystem::path err_;
};

/// Runs a program to its end (stopping it after `limit`) and returns its status and output.
Finished run(const std::string& program, const std::vector<std::string>& arguments,
             const std::vector<std::string>& environment, Sandbox& sandbox,
             std::chrono::milliseconds limit = std::chrono::seconds(20));

/// Polls `condition` until it holds or `limit` passes; returns its last value.
bool eventually(const std::function<bool()>& condition,
                std::chrono::milliseconds limit = std::chrono::seconds(20));

std::string readFile(const std::filesystem::path& file);
