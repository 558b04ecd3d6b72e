#pragma once

#include <QProcess>
#include <QTemporaryDir>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

inline const QString appPath = LUMENOR_BINARY_DIR "/bin/lumenor-app";
inline const QString toolPath = LUMENOR_BINARY_DIR "/bin/lumenor";

/// A private home for the real binaries, removed afterwards.
class Sandbox {
public:
    /// `homeLength` pads the home folder's path to at least that many bytes.
    explicit Sandbox(std::size_t homeLength = 0);

    std::filesystem::path home() const { return home_; }
    std::filesystem::path socketPath() const;
    /// This process's environment without any display, pointed at the sandbox, and at a
    /// private bus on which a mock logind serves unless `withLogind` is false (then at no bus).
    QProcessEnvironment environment() const;

    bool withLogind = true;

private:
    QTemporaryDir root_;
    std::filesystem::path home_;
};

/// A started program; stopped with SIGTERM (then killed) if still running at the end.
class Child : public QProcess {
public:
    Child(const QString& program, const QStringList& arguments,
          const QProcessEnvironment& environment);
    ~Child() override;

    /// The exit status once ended (-1 after a signal); none if still running after `ms`.
    std::optional<int> waitFor(int ms);
    /// Everything written to standard error so far.
    std::string err();

private:
    std::string err_;
};

struct Finished {
    int status = -1;
    std::string out;
    std::string err;
};

/// Runs a program to its end, killing it after 20 s.
Finished run(const QString& program, const QStringList& arguments,
             const QProcessEnvironment& environment);

/// The `lumenor` command in the sandbox.
Finished lumenor(const Sandbox& sandbox, const QStringList& arguments);

/// The app in the sandbox, on the offscreen platform unless `display` is false.
std::unique_ptr<Child> startApp(const Sandbox& sandbox, bool display = true);

std::string readFile(const std::filesystem::path& file);
